#include "inidownloadtaskspecification.h"

#include "checksignaturetaskspecification.h"
#include "configuration.h"
#include "downloadtaskspecification.h"
#include "fileunpacktaskspecification_lzma2.h"
#include "makedownloadreplacelistfunc.h"

#include <QDebug>
#include <QFile>

namespace {
const QString kPackedSuffix = QStringLiteral("._lzma2_");
const QString kSignatureSuffix = QStringLiteral(".sig");
// The shares of the subtasks; with nothing cached they add up to 2.0, so the
// task's progress can pass its weight before it settles there.
const qreal kDownloadWeight = 0.3333;
const qreal kUnpackWeight = 1.0;
} // namespace

IniDownloadTaskSpecification::IniDownloadTaskSpecification(QNetworkAccessManager *nam,
                                                           Configuration *config, QObject *parent,
                                                           qreal weight)
    : ComposedTaskSpecification(1, parent, weight), m_NetworkManager(nam), m_Config(config)
{
}

void IniDownloadTaskSpecification::execute()
{
    emit message(tr("Download / check product ini"));
    makeSubtasksAndStart();
}

void IniDownloadTaskSpecification::makeSubtasksAndStart()
{
    const QString ini = MakeDownloadReplaceListFunc::iniFileName(m_Config->m_UpdateStep);
    const QString packed = ini + kPackedSuffix;
    qDebug() << "makeSubtasksAndStart" << ini << packed;

    const QString dir = m_Config->m_TempDir + QLatin1Char('/');
    qreal checkWeight = 1.0;
    if (!QFile::exists(dir + ini)) {
        qDebug() << "Requesting" << packed;
        addSubtask(new DownloadTaskSpecification(m_NetworkManager, packed, m_Config->m_Version,
                                                 dir + packed, -1, this, kDownloadWeight));
        addSubtask(new FileUnpackTaskSpecification_lzma2(nullptr, dir + packed, dir + ini, this,
                                                         kUnpackWeight));
        checkWeight = 0.6667;
    }

    const QString sig = ini + kSignatureSuffix;
    if (!QFile::exists(dir + sig)) {
        qDebug() << "Requesting" << sig;
        addSubtask(new DownloadTaskSpecification(m_NetworkManager, sig, m_Config->m_Version,
                                                 dir + sig, -1, this, kDownloadWeight));
        checkWeight -= kDownloadWeight;
    }

    // An empty hash selects the RSA check against the ".sig" companion.
    auto *check =
        new CheckSignatureTaskSpecification(dir + ini, QString(), true, this, checkWeight);
    connect(check, &CheckSignatureTaskSpecification::checkDone, this,
            &IniDownloadTaskSpecification::onSigCheckDone);
    addSubtask(check);

    m_TaskState = RUNNING;
    startSubtasks();
}

void IniDownloadTaskSpecification::onSigCheckDone(bool pass, CheckSignatureTaskSpecification *task)
{
    Q_UNUSED(task)
    if (pass)
        return;
    qDebug() << "Failed to verify product ini, aborting";
    emit message(tr("Could not verify the product ini file. Aborting"));
    // A cached pair that does not verify would be reused, and fail, in every
    // later run of this session; without it the next run fetches both again.
    const QString ini = m_Config->m_TempDir + QLatin1Char('/') +
                        MakeDownloadReplaceListFunc::iniFileName(m_Config->m_UpdateStep);
    QFile::remove(ini);
    QFile::remove(ini + kSignatureSuffix);
    setFailed();
}

void IniDownloadTaskSpecification::reset()
{
    clearSubtasks();
    TaskSpecification::reset();
}
