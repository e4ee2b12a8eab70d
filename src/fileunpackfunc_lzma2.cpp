#include "fileunpackfunc_lzma2.h"

#include "package.h"

#include <QDebug>

bool FileUnpackFunc_lzma2::run()
{
    return unpackFile(m_SourcePath, m_TargetPath);
}

bool FileUnpackFunc_lzma2::unpackFile(const QString &packagePath, const QString &outputPath)
{
    const bool result = ovpatch::UnpackPackage(packagePath.toUtf8().toStdString(),
                                               outputPath.toUtf8().toStdString());
    qDebug() << "unpackFile" << packagePath << outputPath << (result ? "true" : "false");
    return result;
}
