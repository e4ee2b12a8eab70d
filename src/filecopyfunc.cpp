#include "filecopyfunc.h"

#include <QDebug>
#include <QFile>

bool FileCopyFunc::run()
{
    qDebug() << "run" << m_SourcePath << m_TargetPath;
    return QFile::copy(m_SourcePath, m_TargetPath);
}
