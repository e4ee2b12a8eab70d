#include "updateengine.h"

#include "configuration.h"
#include "crypt_exception.h"
#include "crypto.h"
#include "maintaskspecification.h"
#include "updateinidata.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QStringList>
#include <QTimer>
#include <QUrl>

namespace {

const QStringList &oldFiles()
{
    static const QStringList files = {
        "update",           "libQtCore.so.4",       "libQtGui.so.4",
        "libQtNetwork.so.4", "libQtSql.so.4",        "libQt5Core.so.5",
        "libQt5Gui.so.5",   "libQt5Network.so.5",   "libQt5Sql.so.5",
        "libqgif.so",       "libqjpeg.so",          "libqtaccessiblewidgets.so",
        "libsqlite.so"};
    return files;
}

const QStringList &qt4Files()
{
    static const QStringList files = {"libQtCore.so.4", "libQtGui.so.4", "libQtNetwork.so.4",
                                      "libQtSql.so.4"};
    return files;
}

} // namespace

void UpdateEngine::removeOldFiles(const QString &dir)
{
    for (const QString &name : oldFiles()) {
        const QString path = QDir(dir).absoluteFilePath("_old_" + name);
        if (QFile::exists(path))
            qDebug() << "Remove old file:" << path;
        QFile::remove(path);
    }
}

void UpdateEngine::removeQt4Files(const QString &dir)
{
    for (const QString &name : qt4Files()) {
        const QString path = QDir(dir).absoluteFilePath(name);
        if (QFile::exists(path)) {
            qDebug() << "Remove Qt4 file:" << path;
            QFile::remove(path);
        }
    }
}

UpdateEngine::UpdateEngine(Configuration *configuration, QObject *parent)
    : QObject(parent), m_State(PRE_INIT), m_Config(configuration), m_RootTask(nullptr)
{
    connect(m_Config, SIGNAL(message(QString)), this, SIGNAL(message(QString)));
    m_Timer = new QTimer(this);
    connect(m_Timer, SIGNAL(timeout()), this, SLOT(onTimer()));
    m_NetworkManager = new QNetworkAccessManager(this);
    m_Config->readUpdateSettings();
    applyProxy();
}

void UpdateEngine::applyProxy()
{
    const QString proxy = m_Config->m_Proxy;
    if (proxy.isEmpty()) {
        m_NetworkManager->setProxy(QNetworkProxy(QNetworkProxy::NoProxy));
        return;
    }
    const QUrl url(proxy, QUrl::TolerantMode);
    // A bare "host:port" parses as scheme "host" with no host part; only a
    // URL that names a host can be used.
    if (url.isValid() && !url.host().isEmpty()) {
        m_NetworkManager->setProxy(QNetworkProxy(QNetworkProxy::HttpProxy,
                                                 url.host(QUrl::FullyDecoded), url.port(3128)));
        return;
    }
    // Nobody listens yet while the window constructs the engine, so the
    // report is kept for the window to show once it has connected.
    m_PendingFatalError = tr("'%1' is an invalid proxy specification").arg(proxy);
    emit fatalError(m_PendingFatalError);
}

bool UpdateEngine::initialize()
{
    Q_ASSERT(m_State == PRE_INIT);
    if (!m_PendingFatalError.isEmpty()) {
        // Downloads through a proxy other than the one the user configured
        // must not start.
        qDebug() << "Not starting:" << m_PendingFatalError;
        return false;
    }
    try {
        initCrypto();
        qsrand(uint(QDateTime::currentMSecsSinceEpoch() / 1000));

        int iniVersion = 0;
        QString tempDir;
        QString installDir;
        if (UpdateIniData::get(&iniVersion, nullptr, &tempDir, &installDir)) {
            qDebug() << "Current version =" << iniVersion << "/ new version =" << m_Config->m_Version;
            if (iniVersion == m_Config->m_Version) {
                qDebug() << "Continuing previous session";
                emit message(tr("Previous update session for v. %1 found").arg(iniVersion));
            } else {
                qDebug() << "Cleaning up previous session";
                emit message(tr("Cleanup previous session (v. %1, %2) files...")
                                 .arg(iniVersion)
                                 .arg(tempDir));
                removeDirectoryContents(tempDir);
                QDir dir(tempDir);
                const QString name = dir.dirName();
                if (dir.cdUp()) {
                    if (dir.rmdir(name))
                        emit message(tr("Ok"));
                    else
                        emit message(tr("Failed to remove directory"));
                }
                tempDir.clear();
                installDir.clear();
                QFile::remove(UpdateIniData::path());
            }
        }

        if (!m_Config->initalizeStart(tempDir, installDir))
            return false;

        qDebug() << "initialize";
        qDebug() << "modifying update.ini" << m_Config->m_UpdateStep;
        if (UpdateIniData::modify(m_Config->m_Version, m_Config->m_TempDir, m_Config->m_InstallDir,
                                  m_Config->m_ClientType)) {
            m_State = POST_INIT;
            return true;
        }
        qDebug() << "Failed to write to update.ini";
        emit error(tr("Failed to write update.ini. The updater does not seem to have the required "
                      "write permissions."));
        return false;
    } catch (const crypt_exception &e) {
        emit fatalError(QString::fromLocal8Bit(e.what()));
        return false;
    }
}

bool UpdateEngine::startUpdate()
{
    Q_ASSERT(m_State == POST_INIT);
    qDebug() << "Starting update";
    m_RootTask = new MainTaskSpecification(m_NetworkManager, m_Config, this, 1.0);
    connect(m_RootTask, SIGNAL(finished(TaskSpecification*)), this, SLOT(onTaskFinished()));
    connect(m_RootTask, SIGNAL(canceled(TaskSpecification*)), this, SLOT(onTaskCanceled()));
    connect(m_RootTask, SIGNAL(error(QString)), this, SIGNAL(error(QString)));
    connect(m_RootTask, SIGNAL(updateProgress(qreal)), this, SIGNAL(updateProgress(qreal)));
    connect(m_RootTask, SIGNAL(message(QString)), this, SIGNAL(message(QString)));
    m_State = RUNNING;
    m_Timer->start(1000);
    m_RootTask->execute();
    return true;
}

void UpdateEngine::onTimer()
{
    if (m_State != RUNNING || !m_RootTask)
        return;
    quint64 done = 0;
    quint64 total = 0;
    quint64 speed = 0;
    bool downloading = false;
    m_RootTask->getDownloadProgress(done, total, speed, downloading);
    emit downloadProgress(done, total, speed, downloading);
}

void UpdateEngine::cancelUpdate()
{
    if (m_State == RUNNING && m_RootTask)
        m_RootTask->cancel();
}

void UpdateEngine::onTaskFinished()
{
    m_Timer->stop();
    cleanup();
    m_State = FINISHED;
    emit message(tr("Update successfully finished"));
    m_RootTask->deleteLater();
    m_RootTask = nullptr;
    emit downloadProgress(0, 0, 0, false);
    emit updateFinished();
}

void UpdateEngine::onTaskCanceled()
{
    m_Timer->stop();
    m_State = CANCELED;
    if (m_RootTask->m_TaskState == TaskSpecification::CANCELED)
        emit message(tr("User aborted update"));
    m_RootTask->deleteLater();
    m_RootTask = nullptr;
    emit downloadProgress(0, 0, 0, false);
    emit updateCanceled();
}

void UpdateEngine::resetAfterCancel()
{
    Q_ASSERT(m_State == CANCELED);
    m_State = PRE_INIT;
    if (m_RootTask) {
        disconnect(m_RootTask, nullptr, this, nullptr);
        m_RootTask->deleteLater();
        m_RootTask = nullptr;
    }
}

void UpdateEngine::cleanup()
{
    qDebug() << "cleanup";
    if (m_Config->m_UpdateStep != 0) {
        qDebug() << "Removing temporary files";
        emit message(tr("Remove temporary files..."));
        QString tempDir;
        if (UpdateIniData::get(nullptr, nullptr, &tempDir, nullptr)) {
            removeDirectoryContents(tempDir);
            QDir dir(tempDir);
            const QString name = dir.dirName();
            if (dir.cdUp())
                dir.rmdir(name);
            QFile::remove(UpdateIniData::path());
        }
        emit message(tr("Temporary files removed."));
    } else {
        QFile::remove(UpdateIniData::path());
        qDebug() << "Deleted local update.ini" << UpdateIniData::path();
        emit message(tr("Removed temporary update.ini"));
    }
}

void UpdateEngine::removeDirectoryContents(const QString &path)
{
    const QDir dir(path);
    const QDir::Filters common = QDir::Hidden | QDir::System | QDir::NoSymLinks | QDir::NoDotAndDotDot;
    for (const QFileInfo &file : dir.entryInfoList(QDir::Files | common))
        QFile::remove(file.absoluteFilePath());
    for (const QFileInfo &sub : dir.entryInfoList(QDir::Dirs | common)) {
        removeDirectoryContents(sub.absoluteFilePath());
        QDir(path).rmdir(sub.fileName());
    }
}
