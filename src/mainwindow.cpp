#include "mainwindow.h"

#include "configuration.h"
#include "ov3settings.h"
#include "processtools.h"
#include "singleinstancechecker.h"
#include "ui_mainwindow.h"
#include "updateengine.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDebug>
#include <QDesktopWidget>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QScrollBar>
#include <QTimer>

// The resources live in the static core library; without this the linker
// drops their registration and the images stay empty. Outside any namespace,
// as the macro requires.
static void initUpdateResources()
{
    Q_INIT_RESOURCE(update);
}

MainWindow *MainWindow::s_Instance = nullptr;

namespace {

// Only one "Update cancelled" box at a time, whatever cancels arrive.
bool s_CancelBoxOpen = false;

void showError(QWidget *parent, const QString &text)
{
    QMessageBox::critical(parent, QObject::tr("Error"), text, QMessageBox::Ok);
}

} // namespace

MainWindow::MainWindow(Configuration *configuration)
    : QWidget(nullptr), ui(new Ui::MainWindow), m_Config(configuration)
{
    initUpdateResources();
    m_Engine = new UpdateEngine(m_Config, this);
    m_Finished = false;
    m_CloseRequested = false;
    m_Started = false;
    m_RebootRequested = false;
    s_Instance = this;

    connect(m_Engine, SIGNAL(error(QString)), this, SLOT(onEngineError(QString)));
    connect(m_Engine, SIGNAL(fatalError(QString)), this, SLOT(onFatalError(QString)));
    connect(m_Engine, SIGNAL(updateProgress(double)), this, SLOT(onProgress(double)));
    connect(m_Engine, SIGNAL(message(QString)), this, SLOT(onAppendText(QString)));
    connect(m_Engine, SIGNAL(updateFinished()), this, SLOT(onUpdateFinished()));
    connect(m_Engine, SIGNAL(updateCanceled()), this, SLOT(onUpdateCanceled()));

    ui->setupUi(this);
    connect(ui->detailsButton, SIGNAL(clicked()), this, SLOT(onDetailsClicked()));

    ui->orvaneLabel->setUrl(QStringLiteral(OV3_HOME_PAGE_URL));
    ui->banner->setUrl(QStringLiteral(OV3_HOME_PAGE_URL));
    ui->orvaneLabel->hide();
    ui->outputTextEdit->hide();

    m_InstanceChecker = new SingleInstanceChecker(this);
    connect(m_InstanceChecker, SIGNAL(otherInstanceActivate(QString)), this,
            SLOT(onOtherInstance(QString)));

    connect(m_Config, SIGNAL(fatalError(QString)), this, SLOT(onConfigurationFatalError(QString)));
    connect(m_Config, SIGNAL(ready()), this, SLOT(onStartUpdate()));

    // The engine found a fatal error while it was constructed, before these
    // connections existed; report it once the event loop runs so that the
    // exit code reaches the loop.
    if (!m_Engine->pendingFatalError().isEmpty())
        QMetaObject::invokeMethod(this, "onFatalError", Qt::QueuedConnection,
                                  Q_ARG(QString, m_Engine->pendingFatalError()));

    const QRect available = QApplication::desktop()->availableGeometry(-1);
    move(available.width() / 2 - width() / 2, available.height() / 2 - height() / 2);
}

MainWindow::~MainWindow()
{
    s_Instance = nullptr;
    delete ui;
}

void MainWindow::updateHeader()
{
    QString text;
    if (!m_Config->m_VersionString.isEmpty())
        text += "<div style=\"font-weight:bold;font-size:large\">" +
                tr("Update to Orvane %1").arg(m_Config->m_VersionString) + "</div>";
    QString channel;
    switch (m_Config->m_Channel) {
    case 1:
        channel = tr("Beta");
        break;
    case 2:
        channel = tr("Alpha");
        break;
    default:
        channel = tr("Stable");
        break;
    }
    text += "<div style=\"margin-top:0.2em\">" +
            tr("You are currently on <strong>%1 channel</strong>.").arg(channel) + "</div>";
    text += "<div style=\"margin-top:0.2em;font-style:italic\">" +
            (m_Config->m_UpdateStep != 0 ? tr("Step two: Updating Orvane client")
                                         : tr("Step one: Updating updater")) +
            "</div>";
    ui->versionLabel->setText(text);
}

void MainWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    const int side = ui->versionLabel->height();
    ui->orvaneLabel->setMaximumWidth(side);
    ui->orvaneLabel->setMaximumHeight(side);
    ui->orvaneLabel->show();
}

void MainWindow::onStartUpdate()
{
    qDebug() << "onStartUpdate" << (m_Finished ? "true" : "false") << (m_Started ? "true" : "false");
    if (m_Finished || m_Started)
        return;
    if (m_Engine->isActive()) {
        qDebug() << "Session already active";
        return;
    }
    if (!m_Config->m_Ready) {
        qDebug() << "Aborting start update, configuration not yet ready";
        return;
    }
    if (!m_Engine->initialize())
        return;
    qDebug() << "Update engine initialized";
    m_Started = true;
    m_Engine->startUpdate();
}

void MainWindow::onAppendText(QString text)
{
    ui->outputTextEdit->append(text);
}

void MainWindow::onEngineError(QString errorMessage)
{
    onAppendText(errorMessage);
    showError(this, errorMessage);
}

void MainWindow::onProgress(double doneFrac)
{
    // Above 1.0 near the end the bar refuses the value and keeps the last one.
    ui->totalProgressBar->setValue(int(doneFrac * 1000));
}

void MainWindow::onDetailsClicked()
{
    if (ui->outputTextEdit->isVisible()) {
        QScrollBar *bar = ui->outputTextEdit->verticalScrollBar();
        bar->setValue(bar->maximum());
    }
}

void MainWindow::onOtherInstance(QString)
{
    raise();
    activateWindow();
}

void MainWindow::onConfigurationFatalError(QString errorMessage)
{
    showError(this, errorMessage);
    QCoreApplication::exit(1);
}

void MainWindow::onFatalError(QString errorMessage)
{
    showError(this, errorMessage);
    QCoreApplication::exit(2);
}

void MainWindow::onUpdateFinished()
{
    qDebug() << "onUpdateFinished";
    m_Finished = true;
    if (m_RebootRequested)
        return;
    QTimer::singleShot(1000, this, SLOT(onHandOver()));
}

void MainWindow::onHandOver()
{
    if (m_Config->m_UpdateStep == 1) {
        ProcessTools::startOv3Client(m_Config->m_InstallDir);
        close();
    } else {
        onStartNewUpdater();
    }
}

void MainWindow::onStartNewUpdater()
{
    qDebug() << "onStartNewUpdater";
    const QStringList args = {"--clientupdate", Configuration::defaultClientType(1),
                              QString::number(m_Config->m_Version),
                              m_Config->m_VersionString.isEmpty() ? QStringLiteral("#")
                                                                  : m_Config->m_VersionString};
    ProcessTools::startClientUpdater(m_Config->m_TempDir, args);
    close();
}

void MainWindow::onUpdateCanceled()
{
    if (m_CloseRequested) {
        QCoreApplication::quit();
        return;
    }
    m_Finished = false;
    m_Engine->resetAfterCancel();
    onAppendText(tr("Update cancelled"));
    ui->totalProgressBar->setValue(0);
    if (!s_CancelBoxOpen) {
        s_CancelBoxOpen = true;
        QMessageBox::critical(this, tr("Update"),
                              tr("Update cancelled. Push \"Details\" to check reasons."),
                              QMessageBox::Ok);
        s_CancelBoxOpen = false;
    }
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (!m_Engine->isActive()) {
        event->accept();
        return;
    }
    event->ignore();
    if (m_CloseRequested)
        return;
    const QMessageBox::StandardButton answer = QMessageBox::question(
        this, tr("Question"), tr("<p>Update in progress.</p><p>Are you sure you want to abort?</p>"),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::NoButton);
    if (answer == QMessageBox::Yes) {
        m_CloseRequested = true;
        m_Engine->cancelUpdate();
    }
}

void MainWindow::onRebootWithConfirmation()
{
    qDebug() << "onRebootWithConfirmation";
    m_RebootRequested = true;
    const QMessageBox::StandardButton answer = QMessageBox::question(
        this, tr("Confirm reboot"),
        tr("<p>A computer restart is required to proceed with the client update. If you do not "
           "reboot now, the Orvane update will be cancelled.</p><p>Do you want to reboot "
           "now?</p>"),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    if (answer == QMessageBox::Yes) {
        write_force_update_file("ov3_force_update");
        QApplication::beep();
    } else {
        write_force_update_file("ov3_force_update_check");
    }
    QCoreApplication::quit();
}

void MainWindow::write_force_update_file(const QString &name)
{
    QFile file(QDir::tempPath() + "/" + name);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        onAppendText("Failed to store force update notice");
        qDebug() << "Failed to store force update notice";
        return;
    }
    file.close();
}

void MainWindow::delete_force_update_files()
{
    qDebug() << "delete_force_update_files" << m_Config->m_UpdateStep;
    if (m_Config->m_UpdateStep != 0)
        return;
    QFile::remove(QDir::tempPath() + "/" + "ov3_force_update");
    QFile::remove(QDir::tempPath() + "/" + "ov3_force_update_check");
}
