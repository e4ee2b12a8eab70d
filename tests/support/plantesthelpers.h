#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

// Small helpers for the tests of the update plan: waiting on the event loop,
// writing files, hashing, and running the project's own command-line tools.
namespace plantest {

// Processes events until done() holds or timeoutMs passed; returns done().
bool waitUntil(const std::function<bool()> &done, int timeoutMs = 10000);

// Writes data to path, creating missing directories; false on failure.
bool writeFile(const QString &path, const QByteArray &data);
QByteArray readFile(const QString &path);

// Lower-case hexadecimal SHA-512, as the product ini lists it.
QString sha512Hex(const QByteArray &data);

// Runs OV3_BIN_DIR/tool with args; returns its exit code (-1 when it could
// not run) and puts stderr into errors when given.
int runTool(const QString &tool, const QStringList &args, QString *errors = nullptr);

// The demo key pair under keys/demo-only/: private and public key files.
QString demoPrivateKey();
QString demoPublicKey();

} // namespace plantest
