#include "filefuncpatch.h"

#include "ensemble.h"
#include "patchstatus.h"

#include <QDebug>

namespace {

typedef char oschar;

bool ApplyEnsemblePatch(const oschar *oldPath, const oschar *patchPath, const oschar *newPath)
{
    const ovpatch::PatchStatus status = ovpatch::ApplyEnsemble(oldPath, patchPath, newPath);
    qDebug() << "ApplyEnsemblePatch status =" << static_cast<unsigned>(status) << oldPath
             << patchPath << newPath;
    switch (status) {
    case ovpatch::PS_OK:
        return true;
    case ovpatch::PS_BAD_MAGIC:
        qDebug() << "Not an ensemble patch";
        break;
    case ovpatch::PS_BAD_VERSION:
        qDebug() << "Wrong version patch";
        break;
    case ovpatch::PS_BAD_HEADER:
        qDebug() << "Corrupt patch";
        break;
    case ovpatch::PS_STREAM_ERROR:
        qDebug() << "Stream error (likely out of memory or disk space)";
        break;
    case ovpatch::PS_DISASSEMBLY_FAILED:
        qDebug() << "Disassembly failed (could be because of memory issues)";
        break;
    default:
        break;
    }
    return false;
}

} // namespace

bool FileFuncPatch::run()
{
    return patchFile(m_SourcePath, m_PatchPath, m_TargetPath);
}

bool FileFuncPatch::patchFile(const QString &oldPath, const QString &patchPath,
                              const QString &newPath)
{
    const QByteArray oldUtf8 = oldPath.toUtf8();
    const QByteArray patchUtf8 = patchPath.toUtf8();
    const QByteArray newUtf8 = newPath.toUtf8();
    const bool result =
        ApplyEnsemblePatch(oldUtf8.constData(), patchUtf8.constData(), newUtf8.constData());
    qDebug() << "Patch result" << (result ? "true" : "false");
    return result;
}
