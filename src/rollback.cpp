#include "rollback.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>

RollbackData::RollbackData(RollbackOperation op, const QString &renamedFrom,
                           const QString &renamedTo)
    : m_Path(renamedTo), m_RestorePath(renamedFrom), m_Op(op)
{
    Q_ASSERT(op == FILE_RENAME);
}

RollbackData::RollbackData(RollbackOperation op, const QString &path) : m_Path(path), m_Op(op)
{
    Q_ASSERT(op != FILE_RENAME);
}

bool RollbackData::rollback(QObject *target) const
{
    switch (m_Op) {
    case FILE_CREATE:
        if (QFile::remove(m_Path))
            return true;
        message(target, QCoreApplication::translate("RollbackData",
                                                    "warning: rollback create file %1 failed")
                            .arg(m_Path));
        return false;
    case DIR_CREATE:
        if (QFileInfo(m_Path).dir().rmdir(QDir(m_Path).dirName()))
            return true;
        message(target, QCoreApplication::translate("RollbackData",
                                                    "warning: rollback create dir %1 failed")
                            .arg(m_Path));
        return false;
    case FILE_RENAME:
        if (QFile::rename(m_Path, m_RestorePath))
            return true;
        message(target, QCoreApplication::translate("RollbackData",
                                                    "warning: rollback rename %1 to %2 failed")
                            .arg(m_RestorePath, m_Path));
        return false;
    }
    qFatal("Should not reach here");
    return false;
}

void RollbackData::message(QObject *target, const QString &text)
{
    if (!target)
        return;
    if (!QMetaObject::invokeMethod(target, "message", Q_ARG(QString, text)))
        qDebug() << "Warning: message signal was not found in RollbackData::message";
}

bool rollbackAll(RollbackDataList &list, QObject *target)
{
    bool result = true;
    while (!list.isEmpty()) {
        const RollbackData record = list.takeLast();
        if (!record.rollback(target))
            result = false;
    }
    return result;
}
