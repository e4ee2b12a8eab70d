#include "fileunpackfunc_zip.h"

#include <QDebug>
#include <QSaveFile>

#include <zlib.h>

bool FileUnpackFunc_Zip::run()
{
    QSaveFile out(m_TargetPath);
    if (!out.open(QIODevice::WriteOnly)) {
        qDebug() << "gzip unpack: could not open" << m_TargetPath << out.errorString();
        return false;
    }
    gzFile g = gzopen(m_SourcePath.toUtf8().constData(), "rb");
    if (!g) {
        qDebug() << "gzip unpack: could not open" << m_SourcePath;
        out.cancelWriting();
        return false;
    }
    gzrewind(g);
    static const int BufferSize = 16384;
    char buffer[BufferSize];
    for (;;) {
        const int n = gzread(g, buffer, BufferSize);
        // zlib reports a stream that ends early as a normal end of file and
        // keeps the reason in its error state, so that is checked as well.
        int code = Z_OK;
        const char *reason = n <= 0 ? gzerror(g, &code) : nullptr;
        if (n == 0 && code == Z_OK)
            break;
        if (n <= 0 || out.write(buffer, n) != n) {
            qDebug() << "gzip unpack failed:" << m_SourcePath << n << (reason ? reason : "write");
            gzclose(g);
            out.cancelWriting();
            return false;
        }
    }
    gzclose(g);
    if (!out.commit()) {
        qDebug() << "gzip unpack: could not write" << m_TargetPath << out.errorString();
        return false;
    }
    return true;
}
