#pragma once

#include <QString>
#include <QWidget>

namespace Ui {
class MainWindow;
}

class Configuration;
class UpdateEngine;
class SingleInstanceChecker;

// The updater's one window: what is updated, overall progress, the details
// log, the questions before an abort or a restart, and the hand-over to the
// client or the new updater at the end.
class MainWindow : public QWidget
{
    Q_OBJECT

public:
    explicit MainWindow(Configuration *configuration);
    ~MainWindow() override;

    void updateHeader();
    void delete_force_update_files();
    void write_force_update_file(const QString &name);

    UpdateEngine *engine() const { return m_Engine; }

    // Set while the window exists; install tasks connect their restart
    // question to it.
    static MainWindow *s_Instance;

public slots:
    void onRebootWithConfirmation();
    void onStartUpdate();

private slots:
    void onFatalError(QString errorMessage);
    void onStartNewUpdater();
    void onAppendText(QString text);
    void onUpdateFinished();
    void onUpdateCanceled();
    void onEngineError(QString errorMessage);
    void onProgress(double doneFrac);
    void onDetailsClicked();
    void onOtherInstance(QString message);
    void onConfigurationFatalError(QString errorMessage);
    void onHandOver();

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    Ui::MainWindow *ui;
    Configuration *m_Config;
    UpdateEngine *m_Engine;
    bool m_Finished;
    bool m_CloseRequested;
    bool m_Started;
    bool m_RebootRequested;
    SingleInstanceChecker *m_InstanceChecker;
};
