// The main window in-process with the offscreen platform. Modal boxes are
// answered from a timer that finds them as the active modal widget.
#include "applicationdirlock.h"
#include "configuration.h"
#include "loopbackhttpserver.h"
#include "mainwindow.h"
#include "plantesthelpers.h"
#include "updateengine.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLayout>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTimer>
#include <QTranslator>
#include <QImage>
#include <gtest/gtest.h>

#include <memory>

namespace {

// Presses the given button of every message box that becomes modal while it
// exists and remembers the boxes' titles and texts.
class BoxAnswerer
{
public:
    explicit BoxAnswerer(QMessageBox::StandardButton answer) : m_Answer(answer)
    {
        QObject::connect(&m_Timer, &QTimer::timeout, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || box == m_Last)
                return;
            m_Last = box;
            m_Seen << box->windowTitle() + ": " + box->text();
            if (QAbstractButton *button = box->button(m_Answer))
                button->click();
        });
        m_Timer.start(20);
    }
    QStringList seen() const { return m_Seen; }

private:
    QMessageBox::StandardButton m_Answer;
    QTimer m_Timer;
    QMessageBox *m_Last = nullptr;
    QStringList m_Seen;
};

struct WindowFixture : ::testing::Test
{
    void SetUp() override
    {
        ASSERT_TRUE(m_Tmp.isValid());
        qputenv("TMPDIR", m_Tmp.path().toUtf8());
        m_Config.m_UpdateStep = 1;
        m_Config.m_Version = 7;
        m_Config.m_VersionString = "3.7";
        m_Config.m_ClientType = "client_linux_amd64";
    }
    void TearDown() override { qunsetenv("TMPDIR"); }

    // A running update whose product ini never arrives.
    void startStalledUpdate(MainWindow &window)
    {
        ASSERT_TRUE(m_Server.start());
        m_Server.setPrefixResponse("/", {200, {}, {}, {}, LoopbackHttpServer::Fault::Stall, 0});
        Configuration::fileServerBaseUrl = m_Server.url("/files/").toString();
        m_Config.m_Ready = true;
        window.onStartUpdate();
        ASSERT_EQ(window.engine()->state(), UpdateEngine::RUNNING);
    }

    ApplicationDirLock m_Lock;
    QTemporaryDir m_Tmp;
    Configuration m_Config;
    LoopbackHttpServer m_Server;
};

template <typename T> T *child(QWidget &window, const char *name)
{
    T *widget = window.findChild<T *>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

} // namespace

TEST_F(WindowFixture, FormAndHeader)
{
    MainWindow window(&m_Config);
    EXPECT_EQ(MainWindow::s_Instance, &window);
    EXPECT_EQ(window.objectName(), "MainWindow");
    EXPECT_EQ(window.windowTitle(), "Orvane 3 Client Update");
    EXPECT_EQ(window.layout()->sizeConstraint(), QLayout::SetFixedSize);
    auto *bar = child<QProgressBar>(window, "totalProgressBar");
    EXPECT_EQ(bar->maximum(), 1000);
    EXPECT_EQ(bar->value(), 0);
    // The artwork comes from the resources compiled into the core library.
    EXPECT_FALSE(child<QLabel>(window, "banner")->pixmap()->isNull());
    EXPECT_FALSE(child<QLabel>(window, "orvaneLabel")->pixmap()->isNull());

    window.updateHeader();
    const QString header = child<QLabel>(window, "versionLabel")->text();
    EXPECT_TRUE(header.contains("Update to Orvane 3.7")) << header.toStdString();
    EXPECT_TRUE(header.contains("<strong>Stable channel</strong>"));
    EXPECT_TRUE(header.contains("Step two: Updating Orvane client"));

    auto *details = child<QTextEdit>(window, "outputTextEdit");
    auto *button = child<QPushButton>(window, "detailsButton");
    window.show();
    EXPECT_TRUE(child<QLabel>(window, "orvaneLabel")->isVisible());
    EXPECT_FALSE(details->isVisible());
    button->click();
    EXPECT_TRUE(details->isVisible());
    button->click();
    EXPECT_FALSE(details->isVisible());
}

TEST_F(WindowFixture, ProgressFractionOnTheThousandScale)
{
    MainWindow window(&m_Config);
    auto *bar = child<QProgressBar>(window, "totalProgressBar");
    const std::pair<double, int> cases[] = {{0.4567, 456}, {1.0, 1000}, {0.0, 0}, {0.999, 999},
                                            // Above 1.0 the bar keeps the last value.
                                            {1.25, 999}};
    for (const auto &c : cases) {
        emit window.engine()->updateProgress(c.first);
        EXPECT_EQ(bar->value(), c.second) << c.first;
    }
}

TEST_F(WindowFixture, InvalidProxyEndsTheRunWithExitCodeTwo)
{
    QSettings(ApplicationDirLock::updateIniPath(), QSettings::IniFormat)
        .setValue("update/proxy", "proxy.example:8080");
    MainWindow window(&m_Config);
    m_Config.m_Ready = true;
    window.show();
    QTimer::singleShot(0, &window, SLOT(onStartUpdate()));
    BoxAnswerer answerer(QMessageBox::Ok);
    EXPECT_EQ(QApplication::exec(), 2);
    EXPECT_EQ(answerer.seen(),
              QStringList{"Error: 'proxy.example:8080' is an invalid proxy specification"});
    EXPECT_FALSE(window.engine()->isActive());
    EXPECT_EQ(QDir(m_Tmp.path()).entryList({"orvane_temp_*"}, QDir::Dirs).size(), 0);
}

TEST_F(WindowFixture, ConfigurationFatalErrorEndsTheRunWithExitCodeOne)
{
    MainWindow window(&m_Config);
    window.show();
    QTimer::singleShot(0, [this] { emit m_Config.fatalError("broken"); });
    BoxAnswerer answerer(QMessageBox::Ok);
    EXPECT_EQ(QApplication::exec(), 1);
    EXPECT_EQ(answerer.seen(), QStringList{"Error: broken"});
}

TEST_F(WindowFixture, CloseWithoutUpdateClosesAtOnce)
{
    MainWindow window(&m_Config);
    window.show();
    BoxAnswerer answerer(QMessageBox::Yes);
    EXPECT_TRUE(window.close());
    EXPECT_TRUE(answerer.seen().isEmpty());
}

TEST_F(WindowFixture, CloseDuringUpdateAsksAndYesQuitsWithoutTheCancelBox)
{
    MainWindow window(&m_Config);
    window.show();
    startStalledUpdate(window);
    {
        BoxAnswerer no(QMessageBox::No);
        QTimer::singleShot(0, &window, SLOT(close()));
        ASSERT_TRUE(plantest::waitUntil([&] { return !no.seen().isEmpty(); }));
        plantest::waitUntil([] { return false; }, 100);
        EXPECT_EQ(window.engine()->state(), UpdateEngine::RUNNING);
        EXPECT_TRUE(window.isVisible());
    }
    BoxAnswerer yes(QMessageBox::Yes);
    QTimer::singleShot(0, &window, SLOT(close()));
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_EQ(yes.seen(), QStringList{"Question: <p>Update in progress.</p><p>Are you sure you "
                                      "want to abort?</p>"});
    EXPECT_EQ(window.engine()->state(), UpdateEngine::CANCELED);
}

TEST_F(WindowFixture, CancelKeepsTheWindowOpenWithTheReason)
{
    MainWindow window(&m_Config);
    window.show();
    startStalledUpdate(window);
    BoxAnswerer answerer(QMessageBox::Ok);
    window.engine()->cancelUpdate();
    ASSERT_TRUE(plantest::waitUntil([&] { return !answerer.seen().isEmpty(); }));
    EXPECT_EQ(answerer.seen(),
              QStringList{"Update: Update cancelled. Push \"Details\" to check reasons."});
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.engine()->state(), UpdateEngine::PRE_INIT);
    const QString details = child<QTextEdit>(window, "outputTextEdit")->toPlainText();
    EXPECT_TRUE(details.contains("User aborted update\nUpdate cancelled")) << details.toStdString();
    // No second start in this process; closing now needs no question.
    window.onStartUpdate();
    EXPECT_EQ(window.engine()->state(), UpdateEngine::PRE_INIT);
    EXPECT_TRUE(window.close());
}

TEST_F(WindowFixture, RebootAnswerLeavesTheMatchingNotice)
{
    const std::pair<QMessageBox::StandardButton, QString> cases[] = {
        {QMessageBox::Yes, "ov3_force_update"}, {QMessageBox::No, "ov3_force_update_check"}};
    for (const auto &c : cases) {
        m_Config.m_UpdateStep = 0;
        MainWindow window(&m_Config);
        window.delete_force_update_files();
        ASSERT_EQ(QDir(m_Tmp.path()).entryList({"ov3_force*"}).size(), 0);
        window.show();
        BoxAnswerer answerer(c.first);
        QTimer::singleShot(0, &window, SLOT(onRebootWithConfirmation()));
        EXPECT_EQ(QApplication::exec(), 0);
        ASSERT_EQ(answerer.seen().size(), 1);
        EXPECT_TRUE(answerer.seen().first().startsWith("Confirm reboot: "));
        EXPECT_EQ(QDir(m_Tmp.path()).entryList({"ov3_force*"}), QStringList{c.second});
        window.delete_force_update_files();
    }
    EXPECT_EQ(QDir(m_Tmp.path()).entryList({"ov3_force*"}).size(), 0);
}

// The window renders with its artwork and header, in English and with the
// German translation. With OV3_SCREENSHOT_DIR set the pictures are kept
// (doc/ holds them).
TEST_F(WindowFixture, RendersInEnglishAndGerman)
{
    const QString dir = qEnvironmentVariable("OV3_SCREENSHOT_DIR");
    for (const QString &locale : {QString("en"), QString("de")}) {
        QTranslator translator;
        if (locale == "de") {
            ASSERT_TRUE(translator.load(QStringLiteral(OV3_BIN_DIR "/translations/update_de")));
            QCoreApplication::installTranslator(&translator);
        }
        MainWindow window(&m_Config);
        window.updateHeader();
        window.show();
        child<QPushButton>(window, "detailsButton")->click();
        emit window.engine()->message(locale == "de" ? "Lade ov3client_linux_amd64 herunter"
                                                     : "Downloading ov3client_linux_amd64");
        emit window.engine()->updateProgress(0.42);
        QCoreApplication::processEvents();
        const QImage image = window.grab().toImage();
        QCoreApplication::removeTranslator(&translator);
        ASSERT_FALSE(image.isNull());
        EXPECT_GE(image.width(), 468);
        const QString header = child<QLabel>(window, "versionLabel")->text();
        EXPECT_TRUE(header.contains(locale == "de" ? "Aktualisierung auf Orvane 3.7"
                                                   : "Update to Orvane 3.7"))
            << header.toStdString();
        // The banner is drawn: its area holds more than one colour.
        const QRect banner = child<QLabel>(window, "banner")->geometry();
        const QImage part = image.copy(banner);
        bool varied = false;
        for (int x = 0; x < part.width() && !varied; x += 7)
            varied = part.pixel(x, part.height() / 2) != part.pixel(0, part.height() / 2);
        EXPECT_TRUE(varied);
        if (!dir.isEmpty())
            image.save(dir + "/mainwindow_" + locale + ".png");
    }
}
