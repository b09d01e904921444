// The terminal simulator, run as a separate program against a real display
// core listening on 127.0.0.1 (a free port, never the display's own).

#include "core/AppCore.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <csignal>
#include <memory>

namespace {

const QString simPath = QStringLiteral(QV4_TERMINAL_SIM);
const QString examplesDir = QStringLiteral(QV4_EXAMPLES_DIR);
const QString protocolDoc = QStringLiteral(QV4_PROTOCOL_DOC);
const QString logPrefix = QStringLiteral("void NetworkService::binaryMessageRecived(const QByteArray&)");

// The display's per-message debug lines and its link warnings (written from its logger thread), kept
// out of the test output; peers coming and going and the open display's notice are left aside.
QStringList g_received;
QStringList g_linkWarnings;
QMutex g_linkWarningsMutex;
QtMessageHandler g_previousHandler = nullptr;

void captureMessages(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtDebugMsg && message.startsWith(logPrefix)) {
        g_received.append(message);
        return;
    }
    if (type == QtWarningMsg && qstrcmp(context.category, "qv4.link") == 0) {
        static const QRegularExpression aside(
            QStringLiteral(": connected$|: disconnected, |^any host on the network"));
        QMutexLocker lock(&g_linkWarningsMutex);
        if (!message.contains(aside))
            g_linkWarnings.append(message);
        return;
    }
    g_previousHandler(type, context, message);
}

QStringList linkWarnings(bool clear = false)
{
    QMutexLocker lock(&g_linkWarningsMutex);
    return clear ? std::exchange(g_linkWarnings, {}) : g_linkWarnings;
}

struct SimRun
{
    bool finished = false;
    int exitCode = -1;
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    QString out;
    QString err;
};

// Writes a message per line, compact, as a scenario file would hold them.
QByteArray jsonLines(const QList<QJsonObject> &messages)
{
    QByteArray data;
    for (const QJsonObject &message : messages)
        data += QJsonDocument(message).toJson(QJsonDocument::Compact) + '\n';
    return data;
}

QJsonObject logoMessage(const QString &logo, int delayMs = -1)
{
    QJsonObject message{{"path", "app_logo"}, {"content", QJsonObject{{"logo", logo}}}};
    if (delayMs >= 0)
        message.insert("delay_ms", delayMs);
    return message;
}

// The messages a scenario file sends as binary frames (text frames are not handled by the display).
int binaryMessageCount(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    int count = 0;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QByteArray trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith('#'))
            continue;
        if (!QJsonDocument::fromJson(trimmed).object().value("text_frame").toBool())
            ++count;
    }
    return count;
}

} // namespace

class TestTerminalSim : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void sendsOneMessage_data();
    void sendsOneMessage();
    void expandsScenarioUrl_data();
    void expandsScenarioUrl();
    void keepsScenarioOrderAndPauses();
    void appliesAnOrderAndHoldsTheConnection();
    void loopStopsOnSignal_data();
    void loopStopsOnSignal();
    void signalWhileWaitingForTheDisplay();
    void connectsOnceTheDisplayComesUp();
    void reportsErrors_data();
    void reportsErrors();
    void checkModeConnectsToNothing();
    void checkWarnsOfBadInput_data();
    void checkWarnsOfBadInput();
    void rawSendsBytesAsTheyAre_data();
    void rawSendsBytesAsTheyAre();
    void oversizedMessages();
    void reportsALostDisplay();
    void examplesPlay_data();
    void examplesPlay();
    void protocolDocumentExamplesTakeEffect();

private:
    QString port() const { return QString::number(m_core->networkService()->serverPort()); }
    QString writeFile(const QString &name, const QByteArray &data);
    QProcess *startSim(const QStringList &args, const QByteArray &input = QByteArray());
    SimRun finish(QProcess *process, int timeoutMs = 30000);
    SimRun runSim(const QStringList &args, const QByteArray &input = QByteArray());
    void stopAndExpectCleanExit(QProcess *process, int signalNumber = SIGTERM);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<AppCore> m_core;
    AppEnv *m_env = nullptr;
    std::unique_ptr<QSignalSpy> m_connected;
    std::unique_ptr<QSignalSpy> m_disconnected;
};

void TestTerminalSim::initTestCase()
{
    QVERIFY2(QFile::exists(simPath), qPrintable(simPath));
    NetworkService::setPortForTesting(0);
    g_previousHandler = qInstallMessageHandler(captureMessages);
}

void TestTerminalSim::init()
{
    g_received.clear();
    linkWarnings(true);
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_core = std::make_unique<AppCore>();
    m_env = m_core->appEnv();
    QVERIFY(m_core->networkService()->isListening());
    m_connected = std::make_unique<QSignalSpy>(m_core->networkService(), &NetworkService::terminalConnected);
    m_disconnected =
        std::make_unique<QSignalSpy>(m_core->networkService(), &NetworkService::terminalDisconnected);
}

void TestTerminalSim::cleanup()
{
    m_connected.reset();
    m_disconnected.reset();
    m_core.reset();
    m_dir.reset();
}

QString TestTerminalSim::writeFile(const QString &name, const QByteArray &data)
{
    const QString path = m_dir->filePath(name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

QProcess *TestTerminalSim::startSim(const QStringList &args, const QByteArray &input)
{
    auto *process = new QProcess(this);
    process->setProgram(simPath);
    process->setArguments(args);
    process->start();
    if (!process->waitForStarted(10000))
        qFatal("cannot start the simulator");
    if (!input.isNull())
        process->write(input);
    process->closeWriteChannel();
    return process;
}

// Waits with the event loop running: the display core in this process must keep serving.
SimRun TestTerminalSim::finish(QProcess *process, int timeoutMs)
{
    SimRun run;
    if (process->state() != QProcess::NotRunning) {
        QSignalSpy finished(process, &QProcess::finished);
        finished.wait(timeoutMs);
    }
    run.finished = process->state() == QProcess::NotRunning;
    if (!run.finished) {
        process->kill();
        process->waitForFinished(5000);
    }
    run.exitCode = process->exitCode();
    run.exitStatus = process->exitStatus();
    run.out = QString::fromUtf8(process->readAllStandardOutput());
    run.err = QString::fromUtf8(process->readAllStandardError());
    process->deleteLater();
    return run;
}

SimRun TestTerminalSim::runSim(const QStringList &args, const QByteArray &input)
{
    return finish(startSim(args, input));
}

void TestTerminalSim::stopAndExpectCleanExit(QProcess *process, int signalNumber)
{
    QCOMPARE(::kill(pid_t(process->processId()), signalNumber), 0);
    const SimRun run = finish(process);
    QVERIFY2(run.finished, "the simulator did not stop on the signal");
    QCOMPARE(run.exitStatus, QProcess::NormalExit);
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
}

void TestTerminalSim::sendsOneMessage_data()
{
    QTest::addColumn<bool>("fromStdin");
    QTest::addColumn<QStringList>("where"); // %PORT% is filled in
    const QStringList port{"--port", "%PORT%"};
    QTest::newRow("from a file") << false << port;
    QTest::newRow("from standard input") << true << port;
    // --host in each form an installer may write it.
    QTest::newRow("a bare host and --port")
        << false << QStringList{"--host", "127.0.0.1", "--port", "%PORT%"};
    QTest::newRow("HOST:PORT") << false << QStringList{"--host", "127.0.0.1:%PORT%"};
    QTest::newRow("the terminal's ws:// URL") << false << QStringList{"--host", "ws://127.0.0.1:%PORT%/"};
    QTest::newRow("a name, port agreeing with --port")
        << false << QStringList{"--host", "localhost:%PORT%", "--port", "%PORT%"};
}

void TestTerminalSim::sendsOneMessage()
{
    QFETCH(bool, fromStdin);
    QFETCH(QStringList, where);
    for (QString &arg : where)
        arg.replace("%PORT%", port());
    // A message file may be pretty-printed over many lines.
    const QByteArray message =
        QJsonDocument(logoMessage("qrc:/icons/logo.svg")).toJson(QJsonDocument::Indented);
    const SimRun run =
        fromStdin ? runSim(where << "-", message) : runSim(where << writeFile("logo.json", message));

    QVERIFY(run.finished);
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QTRY_COMPARE(m_env->logo(), QStringLiteral("qrc:/icons/logo.svg"));
    QCOMPARE(g_received.size(), 1);
    QCOMPARE(m_connected->count(), 1);
    // The simulator closes the link when done, and the display notices.
    QTRY_COMPARE(m_disconnected->count(), 1);
}

void TestTerminalSim::expandsScenarioUrl_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QStringList>("extraArgs");
    QTest::addColumn<QString>("expectedBase");

    QTest::newRow("the file's folder") << QStringLiteral("shop") << QStringList() << QString();
    QTest::newRow("a folder with a space") << QStringLiteral("my shop") << QStringList() << QString();
    QTest::newRow("a base URL given")
        << QStringLiteral("shop") << QStringList{"--base-url", "file:///usr/share/qv4-order-screen/examples/"}
        << QStringLiteral("file:///usr/share/qv4-order-screen/examples");
}

void TestTerminalSim::expandsScenarioUrl()
{
    QFETCH(QString, folder);
    QFETCH(QStringList, extraArgs);
    QFETCH(QString, expectedBase);

    const QString file = writeFile(folder + "/logo.json",
                                   QJsonDocument(logoMessage("${SCENARIO_URL}/images/logo.png")).toJson());
    if (expectedBase.isEmpty())
        expectedBase = QUrl::fromLocalFile(QFileInfo(file).absolutePath()).toString(QUrl::FullyEncoded);

    const SimRun run = runSim(QStringList{"--port", port()} + extraArgs + QStringList{file});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QTRY_COMPARE(m_env->logo(), expectedBase + "/images/logo.png");
    QVERIFY(!m_env->logo().contains(' '));
}

void TestTerminalSim::keepsScenarioOrderAndPauses()
{
    QStringList logos;
    connect(m_env, &AppEnv::logoChanged, this, [&] { logos.append(m_env->logo()); });
    QByteArray scenario = "# five logos, 80 ms apart\n\n";
    for (const char *name : {"a", "b", "c", "d", "e"})
        scenario += jsonLines({logoMessage(name, 80)});

    QElapsedTimer clock;
    clock.start();
    const SimRun run = runSim({"--port", port(), writeFile("order.jsonl", scenario)});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QTRY_COMPARE(logos.size(), 5);
    QCOMPARE(logos, QStringList({"a", "b", "c", "d", "e"}));
    // Each line waits its delay before it is sent: five of them at least.
    QVERIFY2(clock.elapsed() >= 5 * 80 * 9 / 10, qPrintable(QString::number(clock.elapsed())));
    // Our own key never reaches the display.
    QCOMPARE(g_received.size(), 5);
    for (const QString &line : std::as_const(g_received))
        QVERIFY2(!line.contains("delay_ms"), qPrintable(line));
}

void TestTerminalSim::appliesAnOrderAndHoldsTheConnection()
{
    const QJsonObject order{
        {"path", "order"},
        {"content",
         QJsonObject{
             {"receipt_items", QJsonArray{QJsonObject{{"uuid", "l1"},
                                                      {"menu_name", "Капучино"},
                                                      {"quantity", 2},
                                                      {"menu_price", 19900},
                                                      {"discount_amount", 1990},
                                                      {"total", 35820},
                                                      {"receipt_uuid", "r1"}},
                                          QJsonObject{{"uuid", "l2"},
                                                      {"menu_name", "Круассан"},
                                                      {"quantity", 1},
                                                      {"menu_price", 15900},
                                                      {"total", 15900},
                                                      {"receipt_uuid", "r1"}}}},
             {"order", QJsonObject{{"to_payment", 51720}, {"discount", 3980}, {"discount_percent", 0.1}}},
             {"guest", QJsonObject{{"uuid", "g1"}, {"client_name", "Анна"}, {"discount_percent", 1000}}}}}};
    const QJsonObject bonus{{"path", "bonus"}, {"content", QJsonObject{{"count", 5000}}}};
    const QJsonObject payment{{"path", "payment"},
                              {"content", QJsonObject{{"amount", 46720}, {"receipt_uuid", "r1"}}}};
    QSignalSpy cardDialog(m_env, &AppEnv::showPaymentDialog);

    QProcess *sim = startSim({"--port", port(), "--keep-open", "--no-delay",
                              writeFile("sale.jsonl", jsonLines({order, bonus, payment}))});
    QTRY_COMPARE(cardDialog.count(), 1);
    QCOMPARE(m_env->receiptItemModel()->rowCount(), 2);
    QCOMPARE(m_env->client()->clientName, QStringLiteral("Анна"));
    QCOMPARE(m_env->order()->totalAmount, 51720.0);
    QCOMPARE(m_env->order()->expenseBonusCount, 5000);
    QCOMPARE(m_env->order()->receiptPaymentAmount, 46720);
    QCOMPARE(m_env->order()->receiptPaymentDiscount, 3980);
    // Held open: the display keeps showing the order until the simulator is told to stop.
    QVERIFY(!m_disconnected->wait(300));
    QCOMPARE(m_env->receiptItemModel()->rowCount(), 2);

    stopAndExpectCleanExit(sim);
    QTRY_COMPARE(m_disconnected->count(), 1);
    QCOMPARE(m_env->receiptItemModel()->rowCount(), 0);
}

void TestTerminalSim::loopStopsOnSignal_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void TestTerminalSim::loopStopsOnSignal()
{
    QFETCH(int, signalNumber);
    QStringList logos;
    connect(m_env, &AppEnv::logoChanged, this, [&] { logos.append(m_env->logo()); });
    const QString file =
        writeFile("loop.jsonl", jsonLines({logoMessage("one", 200), logoMessage("two", 200)}));

    QProcess *sim = startSim({"--port", port(), "--loop", file});
    // Round two starts over with the first line.
    QTRY_VERIFY_WITH_TIMEOUT(logos.size() >= 3, 15000);
    QCOMPARE(logos.mid(0, 3), QStringList({"one", "two", "one"}));
    stopAndExpectCleanExit(sim, signalNumber);
    QTRY_COMPARE(m_disconnected->count(), 1);
}

void TestTerminalSim::signalWhileWaitingForTheDisplay()
{
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const QString closedPort = QString::number(probe.serverPort());
    probe.close();

    QProcess *sim = startSim({"--port", closedPort, "--wait", "60", "--loop",
                              writeFile("loop.jsonl", jsonLines({logoMessage("x", 100)}))});
    QVERIFY(!QSignalSpy(sim, &QProcess::finished).wait(500)); // still trying
    stopAndExpectCleanExit(sim);
}

void TestTerminalSim::connectsOnceTheDisplayComesUp()
{
    // The port stays ours until the display takes it: bound, never
    // listening, so the simulator is refused meanwhile and no parallel test
    // can be handed it; shared, so the display can bind it too.
    QTcpSocket keeper;
    QVERIFY(keeper.bind(QHostAddress::LocalHost, 0, QAbstractSocket::ReuseAddressHint));
    const quint16 laterPort = keeper.localPort();

    QProcess *sim = startSim({"--port", QString::number(laterPort), "--wait", "20",
                              writeFile("m.jsonl", jsonLines({logoMessage("late"), logoMessage("later")}))});
    QVERIFY(!QSignalSpy(sim, &QProcess::finished).wait(600)); // refused, trying again

    NetworkService::setPortForTesting(laterPort);
    AppCore lateDisplay;
    NetworkService::setPortForTesting(0);
    QVERIFY(lateDisplay.networkService()->isListening());
    keeper.close();

    const SimRun run = finish(sim);
    // The failed attempts before are no lost connection.
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QVERIFY2(run.err.isEmpty(), qPrintable(run.err));
    QTRY_COMPARE(lateDisplay.appEnv()->logo(), QStringLiteral("later"));
}

void TestTerminalSim::reportsErrors_data()
{
    QTest::addColumn<QStringList>("args"); // %FILE% and %PORT% are filled in
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message"); // a regular expression matched against stderr

    const QByteArray valid = R"({"path": "bonus", "content": {"count": 1}})";
    const QStringList plain{"--port", "%PORT%", "%FILE%"};

    QTest::newRow("display unreachable") << QStringList{"--port", "%CLOSED%", "%FILE%"} << "m.json" << valid
                                         << 6 << "cannot reach the display at ws://127\\.0\\.0\\.1:\\d+: .+";
    QTest::newRow("display unreachable after waiting")
        << QStringList{"--port", "%CLOSED%", "--wait", "0.7", "%FILE%"} << "m.json" << valid << 6
        << "cannot reach the display";
    // The display turns away an address its allow-list lacks before the handshake.
    QTest::newRow("refused by the display's allow-list")
        << QStringList{"%REFUSE%", "--port", "%PORT%", "%FILE%"} << "m.json" << valid << 6
        << "closed the connection before the WebSocket handshake; .* --allow-terminal \\(127\\.0\\.0\\.1 ";
    QTest::newRow("--host: a URL without a host")
        << QStringList{"--host", "ws://:%PORT%/", "%FILE%"} << "m.json" << valid << 2 << "no host or address";
    QTest::newRow("--host: not a ws:// URL")
        << QStringList{"--host", "http://127.0.0.1/", "%FILE%"} << "m.json" << valid << 2
        << "the display speaks plain WebSocket";
    QTest::newRow("--host and --port disagree")
        << QStringList{"--host", "127.0.0.1:1", "--port", "2", "%FILE%"} << "m.json" << valid << 2
        << "names port 1, --port 2";
    QTest::newRow("invalid JSON in a scenario, line 3")
        << plain << "s.jsonl"
        << QByteArray(valid + "\n# comment\n{\"path\": \"order\", \"content\": {]}\n" + valid) << 4
        << "s\\.jsonl:3:\\d+: invalid JSON: ";
    QTest::newRow("invalid JSON in a message, line 4")
        << plain << "m.json"
        << QByteArray("{\n  \"path\": \"bonus\",\n  \"content\": {\n    \"count\": 1,,\n  }\n}\n") << 4
        << "m\\.json:4:\\d+: invalid JSON";
    QTest::newRow("empty message file") << plain << "m.json" << QByteArray() << 4 << "invalid JSON";
    QTest::newRow("a number, not an object") << plain << "m.json" << QByteArray("42") << 5
                                             << "not a message: expected a JSON object, got a number";
    QTest::newRow("an array, not an object")
        << plain << "s.jsonl" << QByteArray(valid + "\n[" + valid + "]") << 5
        << "s\\.jsonl:2: not a message: expected a JSON object, got an array";
    QTest::newRow("missing path") << plain << "m.json" << QByteArray(R"({"content": {}})") << 5
                                  << "not a message: no \"path\"";
    QTest::newRow("path not a string") << plain << "m.json" << QByteArray(R"({"path": 4, "content": {}})")
                                       << 5 << "\"path\" must be a string, got a number";
    QTest::newRow("missing content") << plain << "m.json" << QByteArray(R"({"path": "order"})") << 5
                                     << "not a message: no \"content\"";
    QTest::newRow("content not an object")
        << plain << "m.json" << QByteArray(R"({"path": "order", "content": []})") << 5
        << "\"content\" must be an object, got an array";
    QTest::newRow("delay_ms negative")
        << plain << "s.jsonl" << QByteArray(R"({"delay_ms": -5, "path": "bonus", "content": {}})") << 5
        << "\"delay_ms\" must be a number of milliseconds";
    QTest::newRow("raw with a message beside it")
        << plain << "s.jsonl" << QByteArray(R"({"raw": "x", "path": "bonus", "content": {}})") << 5
        << "carries no other keys";
    QTest::newRow("scenario without messages")
        << plain << "s.jsonl" << QByteArray("# nothing\n\n") << 5 << "holds no message";
    QTest::newRow("file missing") << QStringList{"--port", "%PORT%", "%DIR%/missing.json"} << QString()
                                  << QByteArray() << 3 << "missing\\.json: cannot read: ";
    QTest::newRow("a folder, not a file")
        << QStringList{"--port", "%PORT%", "%DIR%"} << QString() << QByteArray() << 3 << "is a folder";
    QTest::newRow("no file") << QStringList{"--port", "%PORT%"} << QString() << QByteArray() << 2
                             << "no FILE given";
    QTest::newRow("port out of range") << QStringList{"--port", "70000", "%FILE%"} << "m.json" << valid << 2
                                       << "port must be a number from 1 to 65535";
    QTest::newRow("unknown option") << QStringList{"--colour", "%FILE%"} << "m.json" << valid << 2
                                    << "Unknown option 'colour'";
    QTest::newRow("loop without a scenario") << QStringList{"--port", "%PORT%", "--loop", "%FILE%"}
                                             << "m.json" << valid << 2 << "--loop plays a scenario";
}

void TestTerminalSim::reportsErrors()
{
    QFETCH(QStringList, args);
    QFETCH(QString, fileName);
    QFETCH(QByteArray, content);
    QFETCH(int, exitCode);
    QFETCH(QString, message);

    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const QString closedPort = QString::number(probe.serverPort());
    probe.close();

    const QString file = fileName.isEmpty() ? QString() : writeFile(fileName, content);
    if (args.removeAll(QStringLiteral("%REFUSE%")))
        m_core->networkService()->setAllowedTerminals({{QHostAddress(QStringLiteral("192.0.2.1")), 32}});
    for (QString &arg : args) {
        arg.replace("%FILE%", file).replace("%PORT%", port()).replace("%CLOSED%", closedPort);
        arg.replace("%DIR%", m_dir->path());
    }

    const SimRun run = runSim(args);
    QVERIFY(run.finished);
    QCOMPARE(run.exitStatus, QProcess::NormalExit);
    QVERIFY2(run.exitCode == exitCode, qPrintable(QString("exit %1: %2").arg(run.exitCode).arg(run.err)));
    QVERIFY2(QRegularExpression(message).match(run.err).hasMatch(), qPrintable(run.err));
    QVERIFY2(run.err.startsWith("qv4-terminal-sim: "), qPrintable(run.err));
    // A broken file is refused whole: the display never hears from the simulator.
    QVERIFY(!m_connected->wait(100));
    QCOMPARE(g_received.size(), 0);
}

void TestTerminalSim::checkModeConnectsToNothing()
{
    const QString file =
        writeFile("s.jsonl", jsonLines({logoMessage("a"), logoMessage("b"), logoMessage("c")}));
    const SimRun run = runSim({"--port", port(), "--check", file});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QVERIFY2(run.out.contains("3 message(s) OK"), qPrintable(run.out));
    QVERIFY(!m_connected->wait(100));
}

// Lines of a scenario that the display takes but warns about, each with the
// warning --check gives; that the display gives the same ones, examplesPlay shows.
void TestTerminalSim::checkWarnsOfBadInput_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("warning");
    const auto row = [](const char *name, const QByteArray &line, const char *warning) {
        QTest::newRow(name) << line << QString::fromUtf8(warning);
    };
    row("text frame", R"({"path":"bonus","content":{"count":1},"text_frame":true})",
        "text frame ignored: the display reads only binary frames; send the JSON as a binary message");
    row("invalid JSON", R"({"raw":"{\"path\": \"order\", \"content\": {]}"})",
        "invalid JSON at byte 31: unterminated object");
    row("not an object", R"({"raw":"[1,2]"})",
        R"(not a JSON object but an array; a message is {"path": ..., "content": {...}})");
    row("no path", R"({"raw":"{\"content\":{}}"})", R"(no "path"; the message is ignored)");
    row("unknown path", R"({"path":"Order","content":{}})",
        R"(unknown "path" "Order" (did you mean "order"?); the message is ignored )"
        R"((known: order, promo_image, app_logo, payment, bonus))");
    row("content not an object", R"({"raw":"{\"path\":\"payment\",\"content\":[]}"})",
        R"(payment: "content" expects an object, got an array; read as {})");
    row("order: quantity as text",
        R"({"path":"order","content":{"receipt_items":[{"uuid":"a","quantity":"2"}]}})",
        R"(order: "receipt_items[0].quantity" expects a number, got a string ("2"))");
    row("order: a recipe change's quantity is shown as sent, text or number",
        R"({"path":"order","content":{"receipt_items":[{"uuid":"a","receipt_item_recipe_changes":)"
        R"([{"nomenclature":"Сироп","quantity":"2"},{"nomenclature":"Сироп","quantity":true}]}]}})",
        R"(order: "receipt_items[0].receipt_item_recipe_changes[1].quantity" expects a number or a string, got true)");
    // Client data goes to the journal of every shop: the key and the type, not the value.
    row("order: a client's name as a number",
        R"({"path":"order","content":{"guest":{"client_name":79161234567,"client_lastname":"Смирнова"}}})",
        R"(order: "guest.client_name" expects a string, got a number)");
    row("order: a bonus balance as text", R"({"path":"order","content":{"guest":{"bonus_count":"154320"}}})",
        R"(order: "guest.bonus_count" expects a number, got a string)");
    row("order: a line that is no object", R"({"path":"order","content":{"receipt_items":[{"uuid":"a"},5]}})",
        R"(order: "receipt_items[1]" expects an object, got 5)");
    // An entry the display shows, but for what each row changes.
    const QByteArray promo =
        R"({"path":"promo_image","content":{"promo_images":[{"is_order_screen":true,"image":"p.jpg","timeout":5,)";
    row("promo: flag as text", promo + R"("uuid":"p","is_active":"true"}]}})",
        R"(promo_image: "promo_images[0].is_active" expects a boolean, got a string ("true"))");
    row("promo: date that does not parse", promo + R"("uuid":"p","start_at":"01.12.2026"}]}})",
        R"(promo_image: "promo_images[0].start_at" expects an ISO 8601 date-time or null, got a string ("01.12.2026"))");
    row("promo: window over midnight", promo + R"("uuid":"p","schedule":{"friday":[["22:00","02:00"]]}}]}})",
        R"(promo_image: "promo_images[0].schedule.friday[0]" never matches: a window does not cross midnight; split it between two days)");
    row("promo: more windows than are read",
        promo + R"("uuid":"p","schedule":{"friday":[)" + QByteArray(R"(["09:00","10:00"],)").repeated(100) +
            R"(["09:00","10:00"]]}}]}})",
        R"(promo_image: "promo_images[0].schedule.friday" has 101 windows; only the first 100 are read)");
    row("promo: time without a leading zero",
        promo + R"("uuid":"p","schedule":{"friday":[["9:00","18:00"]]}}]}})",
        R"(promo_image: "promo_images[0].schedule.friday[0][0]" expects a time "hh:mm" from 00:00 to 23:59, got a string ("9:00"))");
    // Entries the display drops or never shows.
    row("promo: no uuid", promo + R"("name":"x"}]}})",
        R"(promo_image: "promo_images[0]" has no "uuid"; the display drops it)");
    const QByteArray promos = R"({"path":"promo_image","content":{"promo_images":[)";
    row("promo: not for the order screen",
        promos + R"({"uuid":"p","is_order_screen":false,"image":"p.jpg","timeout":5}]}})",
        R"(promo_image: "promo_images[0]" is not for the order screen ("is_order_screen" is not true); the display drops it)");
    row("promo: empty image", promos + R"({"uuid":"p","is_order_screen":true,"image":"","timeout":5}]}})",
        R"(promo_image: "promo_images[0]" has an empty "image"; the display never shows it)");
    row("promo: timeout 0", promos + R"({"uuid":"p","is_order_screen":true,"image":"p.jpg","timeout":0}]}})",
        R"(promo_image: "promo_images[0]" has no "timeout" above 0; the display shows it for 10 s)");
    // Pictures the scenario serves (the test writes them), cropped by more than half: --check's own.
    row("promo: a portrait picture, beside the scenario",
        promos + R"({"uuid":"p","is_order_screen":true,"image":"${SCENARIO_URL}/tall.png","timeout":5}]}})",
        R"(promo_image: "promo_images[0].image" (tall.png) is 300x600 pixels, too tall; the slideshow crops )"
        R"(70 % of it away on a landscape screen (1280x776); make it in the screen's shape, such as 1280x800 or 1920x1080)");
    row("promo: a banner in a data: URL",
        promos + R"({"uuid":"p","is_order_screen":true,"image":"%BANNER%","timeout":5}]}})",
        R"(promo_image: "promo_images[0].image" (a data: URL) is 400x100 pixels, too wide; the slideshow crops )"
        R"(59 % of it away on a landscape screen (1280x776); make it in the screen's shape, such as 1280x800 or 1920x1080)");
    // Payment texts a phone cannot read from the screen, or no QR code holds.
    row("payment: QR text of 1000 characters",
        R"({"path":"payment","content":{"amount":100,"qrcode_table":")" + QByteArray(1000, 'a') + R"("}})",
        R"(payment: "qrcode_table" of 1000 characters makes a QR code of 105 modules a side, )"
        R"(under 2 screen pixels a module on an 800x480 screen; phones may not read it)");
    row("payment: QR text of 3000 characters",
        R"({"path":"payment","content":{"amount":100,"qrcode_table":")" + QByteArray(3000, 'a') + R"("}})",
        R"(payment: "qrcode_table" of 3000 characters does not fit in a QR code )"
        R"((at most 2953 bytes of UTF-8); the dialog shows no code)");
    row("logo: a number", R"({"path":"app_logo","content":{"logo":5}})",
        R"(app_logo: "logo" expects a string, got 5)");
    row("payment: amount in major units",
        R"({"path":"payment","content":{"amount":465.30,"receipt_uuid":"r"}})",
        R"(payment: "amount" expects an integral number of hundredths, got 465.3)");
    row("payment: amount past 32 bits", R"({"path":"payment","content":{"amount":1e12}})",
        R"(payment: "amount" expects an integral number of hundredths from -2147483648 to 2147483647, got 1e+12)");
    row("payment: an unknown result", R"({"path":"payment","content":{"is_finished":true,"result":"ok"}})",
        R"(payment: "result" is "ok", neither "success" nor "declined"; the dialog closes without an outcome)");
    row("order: a recipe change without quantity",
        R"({"path":"order","content":{"receipt_items":[{"receipt_item_recipe_changes":[{"nomenclature":"Без лука"}]}]}})",
        R"(order: "receipt_items[0].receipt_item_recipe_changes[0].quantity" is missing; the chip shows the name alone)");
    row("bonus: the correct spelling", R"({"path":"bonus","content":{"count":100,"is_replenishment":true}})",
        R"(bonus: "is_replenishment" is not read; did you mean "is_replenisment"?)");
}

void TestTerminalSim::checkWarnsOfBadInput()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, warning);
    const auto png = [](int width, int height) {
        QImage picture(width, height, QImage::Format_RGB32);
        picture.fill(Qt::darkGreen);
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        picture.save(&buffer, "PNG");
        return buffer.data();
    };
    writeFile("tall.png", png(300, 600));
    line.replace("%BANNER%", "data:image/png;base64," + png(400, 100).toBase64());
    const QString file = writeFile("s.jsonl", "# line 1\n" + jsonLines({logoMessage("a")}) + line + '\n');
    const SimRun check = runSim({"--port", port(), "--check", "--strict", file});
    QVERIFY2(check.exitCode == 8, qPrintable(check.err));
    QVERIFY2(check.err.contains(QStringLiteral("s.jsonl:3: warning: ") + warning + u'\n'),
             qPrintable(check.err));
    QCOMPARE(check.err.count(QStringLiteral(": warning: ")), 1); // only that line
}

void TestTerminalSim::rawSendsBytesAsTheyAre_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("expectedLogs"); // what the display logs, one entry per message

    const QString empty = QStringLiteral("QJsonObject()");
    QTest::newRow("--raw: not JSON") << QStringList{"--raw"} << "m.bin" << QByteArray("not JSON at all")
                                     << QStringList{empty};
    QTest::newRow("--raw: empty message")
        << QStringList{"--raw"} << "m.bin" << QByteArray() << QStringList{empty};
    QTest::newRow("--raw: a scenario's lines unchecked")
        << QStringList{"--raw"} << "s.jsonl" << QByteArray("[1, 2]\n{\"path\": 3}\n# skipped\n\n42\n")
        << QStringList{empty, "QJsonObject({\"path\":3})", empty};
    QTest::newRow("raw lines among messages")
        << QStringList() << "s.jsonl"
        << QByteArray(R"({"raw": "{\"path\": \"ORDER\", \"content\": {}}", "delay_ms": 10}
{"raw_base64": "/w=="}
{"raw": "{\"path\": \"app_logo\", \"content\": {\"logo\": \"text\"}}", "text_frame": true}
{"path": "app_logo", "content": {"logo": "kept"}})")
        << QStringList{"QJsonObject({\"content\":{},\"path\":\"ORDER\"})", empty,
                       "QJsonObject({\"content\":{\"logo\":\"kept\"},\"path\":\"app_logo\"})"};
}

void TestTerminalSim::rawSendsBytesAsTheyAre()
{
    QFETCH(QStringList, options);
    QFETCH(QString, fileName);
    QFETCH(QByteArray, content);
    QFETCH(QStringList, expectedLogs);

    const SimRun run =
        runSim(QStringList{"--port", port()} + options + QStringList{writeFile(fileName, content)});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QTRY_COMPARE(m_disconnected->count(), 1);
    QStringList logged;
    for (const QString &line : std::as_const(g_received))
        logged.append(line.mid(logPrefix.size() + 1));
    QCOMPARE(logged, expectedLogs);
    // The text frame asked for logo "text"; only the binary message counts.
    QVERIFY(m_env->logo() != QStringLiteral("text"));
}

void TestTerminalSim::oversizedMessages()
{
    QByteArray big = R"({"path": "app_logo", "content": {"logo": ")";
    big += QByteArray(17 * 1024 * 1024, 'x');
    big += R"("}})";
    const QString file = writeFile("big.json", big);

    // Checked: refused before connecting.
    SimRun run = runSim({"--port", port(), file});
    QVERIFY2(run.exitCode == 5, qPrintable(run.err));
    QVERIFY2(run.err.contains("the display accepts at most 16777216"), qPrintable(run.err));
    QVERIFY(!m_connected->wait(100));

    // Raw: the display drops the connection, and the simulator says so. (Without
    // --keep-open it may have closed first itself: the link is one-way, so
    // "written" is all it can know.)
    run = runSim({"--port", port(), "--raw", "--keep-open", file});
    QVERIFY2(run.exitCode == 7, qPrintable(QString("exit %1: %2").arg(run.exitCode).arg(run.err)));
    QVERIFY2(run.err.contains("the display closed the connection (close code 1009"), qPrintable(run.err));
    QTRY_COMPARE(m_disconnected->count(), 1);
    QCOMPARE(g_received.size(), 0);
    QVERIFY(m_env->logo().isEmpty());
}

void TestTerminalSim::reportsALostDisplay()
{
    QProcess *sim = startSim({"--port", port(), "--keep-open",
                              writeFile("m.jsonl", jsonLines({logoMessage("a"), logoMessage("b", 50)}))});
    QTRY_COMPARE(g_received.size(), 2);
    // The display goes away while the simulator holds the link.
    m_connected.reset();
    m_disconnected.reset();
    m_core.reset();

    const SimRun run = finish(sim);
    QVERIFY(run.finished);
    QVERIFY2(run.exitCode == 7, qPrintable(QString("exit %1: %2").arg(run.exitCode).arg(run.err)));
    QVERIFY2(run.err.contains("the display closed the connection"), qPrintable(run.err));
    QVERIFY2(run.err.contains("after 2 message(s)"), qPrintable(run.err));
}

void TestTerminalSim::examplesPlay_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("full sale") << QStringLiteral("full-sale");
    QTest::newRow("QR sale") << QStringLiteral("qr-sale");
    QTest::newRow("promo rotation") << QStringLiteral("promo-rotation");
    QTest::newRow("malformed") << QStringLiteral("malformed");
}

void TestTerminalSim::examplesPlay()
{
    QFETCH(QString, name);
    QString file = examplesDir + '/' + name + ".jsonl";
    QStringList extraArgs;
    if (name == "promo-rotation") {
        // Played without pauses, later catalogues would overtake the first one while it
        // loads (the newest always wins); play up to the full catalogue only.
        QFile source(file);
        QVERIFY(source.open(QIODevice::ReadOnly));
        const QByteArray data = source.readAll();
        const qsizetype first = data.indexOf("\"path\": \"promo_image\"");
        QVERIFY(first > 0);
        file = writeFile("promo-rotation-head.jsonl", data.left(data.indexOf('\n', first) + 1));
        extraArgs = QStringList{"--base-url", QUrl::fromLocalFile(examplesDir).toString(QUrl::FullyEncoded)};
    }
    const int messages = binaryMessageCount(file);
    QVERIFY(messages > 0);

    QSignalSpy card(m_env, &AppEnv::showPaymentDialog);
    QSignalSpy qr(m_env, &AppEnv::showQRPaymentDialog);
    QSignalSpy closed(m_env, &AppEnv::closePaymentDialogs);
    QStringList qrImages;
    connect(m_env, &AppEnv::showQRPaymentDialog, this, [&] { qrImages.append(m_env->order()->qrCodeTable); });
    int mostPromoRecords = 0;
    connect(m_env->promoImageModel(), &QAbstractItemModel::modelReset, this,
            [&] { mostPromoRecords = qMax(mostPromoRecords, m_env->promoImageModel()->rowCount()); });
    QStringList clients;
    connect(m_env, &AppEnv::clientChanged, this, [&] { clients.append(m_env->client()->clientName); });

    QProcess *sim =
        startSim(QStringList{"--port", port(), "--no-delay", "--keep-open"} + extraArgs + QStringList{file});
    QTRY_COMPARE_WITH_TIMEOUT(g_received.size(), messages, 20000);
    // The display warns of what --check warns of, and of nothing in a sound terminal's messages.
    QStringList checked = runSim(QStringList{"--check"} + extraArgs + QStringList{file}).err.split('\n');
    checked.removeAll(QString());
    QTRY_COMPARE(linkWarnings().size(), checked.size());
    QStringList warned = linkWarnings();
    for (int i = 0; i < checked.size(); ++i) {
        checked[i] = checked[i].section(QStringLiteral(": warning: "), 1);
        warned[i] =
            warned[i].section(QStringLiteral(": "), 1).remove(QStringLiteral(" (said once per connection)"));
    }
    checked.sort();
    warned.sort();
    QCOMPARE(warned, checked);
    // The rotation shows entries that the display leaves out, which --check names.
    QCOMPARE(checked.isEmpty(), name != "malformed" && name != "promo-rotation");

    // Every example sets the shop's logo from its own folder, and the picture is there.
    const QString imagesUrl = QUrl::fromLocalFile(examplesDir).toString(QUrl::FullyEncoded) + "/images/";
    QTRY_COMPARE(m_env->logo(), imagesUrl + "logo.png");
    QVERIFY(QFile::exists(QUrl(m_env->logo()).toLocalFile()));

    if (name == "full-sale") {
        QTRY_COMPARE(closed.count(), 1);
        QCOMPARE(card.count(), 1);
        QCOMPARE(qr.count(), 0);
        QVERIFY(clients.contains("Анна"));
        QCOMPARE(m_env->order()->expenseBonusCount, 5000);
        QCOMPARE(mostPromoRecords, 4);
        QTRY_COMPARE(m_env->receiptItemModel()->rowCount(), 0); // the sale ends with an empty order
    } else if (name == "qr-sale") {
        QTRY_COMPARE(closed.count(), 1);
        QCOMPARE(qr.count(), 1);
        QCOMPARE(card.count(), 0);
        QVERIFY(qrImages.constFirst().startsWith("data:image/png;base64,"));
        QVERIFY(qrImages.constFirst().size() > 200);
    } else if (name == "promo-rotation") {
        // Nine records sent, six kept: inactive, not for this screen and deleted ones are dropped.
        QTRY_COMPARE(mostPromoRecords, 6);
    } else if (name == "malformed") {
        // The sound messages at the end still take effect.
        QTRY_COMPARE(m_env->receiptItemModel()->rowCount(), 2);
        QTRY_VERIFY(closed.count() >= 3);
        QVERIFY(card.count() >= 3);
        QCOMPARE(qr.count(), 1);
        QCOMPARE(qrImages.constFirst(), QStringLiteral("data:image/png;base64,")); // too long to encode
    }
    // Every promo picture published while playing is one of ours, on disk.
    for (const QJsonValue &entry : m_env->promoImagesToShow()) {
        const QString url = entry.toObject().value("url").toString();
        if (name != "malformed")
            QVERIFY2(QFile::exists(QUrl(url).toLocalFile()), qPrintable(url));
    }

    stopAndExpectCleanExit(sim);
    QTRY_COMPARE(m_disconnected->count(), 1);
}

void TestTerminalSim::protocolDocumentExamplesTakeEffect()
{
    QFile doc(protocolDoc);
    QVERIFY2(doc.open(QIODevice::ReadOnly), qPrintable(protocolDoc));
    const QString text = QString::fromUtf8(doc.readAll());
    QList<QJsonObject> examples;
    QStringList kinds;
    const QRegularExpression block(QStringLiteral("```json\\n(.*?)```"),
                                   QRegularExpression::DotMatchesEverythingOption);
    for (auto it = block.globalMatch(text); it.hasNext();) {
        QJsonParseError error;
        const QJsonDocument json = QJsonDocument::fromJson(it.next().captured(1).toUtf8(), &error);
        QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(error.errorString()));
        examples.append(json.object());
        kinds.append(json.object().value("path").toString());
    }
    kinds.removeDuplicates();
    kinds.sort();
    QCOMPARE(kinds, QStringList({"app_logo", "bonus", "order", "payment", "promo_image"}));

    QSignalSpy dialogs(m_env, &AppEnv::showQRPaymentDialog);
    QSignalSpy cardDialogs(m_env, &AppEnv::showPaymentDialog);
    QSignalSpy promoResets(m_env->promoImageModel(), &QAbstractItemModel::modelReset);
    int mostRows = 0;
    connect(m_env->receiptItemModel(), &QAbstractItemModel::modelReset, this,
            [&] { mostRows = qMax(mostRows, m_env->receiptItemModel()->rowCount()); });
    int mostPromos = 0;
    connect(m_env->promoImageModel(), &QAbstractItemModel::modelReset, this,
            [&] { mostPromos = qMax(mostPromos, m_env->promoImageModel()->rowCount()); });

    QProcess *sim = startSim({"--port", port(), "--keep-open", writeFile("doc.jsonl", jsonLines(examples))});
    QTRY_COMPARE(g_received.size(), examples.size());
    QTRY_VERIFY(dialogs.count() + cardDialogs.count() >= 1);
    QTRY_VERIFY(promoResets.count() >= 1);
    QVERIFY(mostRows > 0);
    QVERIFY(mostPromos > 0);
    QVERIFY(!m_env->logo().isEmpty());
    stopAndExpectCleanExit(sim);
}

QTEST_MAIN(TestTerminalSim)
#include "tst_terminal_sim.moc"
