#include "RendererChoice.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QQuickWindow>
#include <QSGRendererInterface>

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcRender, "qv4.render", QtInfoMsg)

namespace RendererChoice {

bool isOption(const QString &option)
{
    return option == QLatin1String("auto") || option == QLatin1String("opengl") ||
           option == QLatin1String("software");
}

bool isSoftwareRasteriser(const QString &renderer)
{
    // Mesa's llvmpipe, softpipe and swrast, and its "Software Rasterizer" of old.
    for (const char *name : {"llvmpipe", "softpipe", "swrast", "software rasterizer"}) {
        if (renderer.contains(QLatin1String(name), Qt::CaseInsensitive))
            return true;
    }
    return false;
}

Decision decide(const QString &option, const QString &userBackend, const std::function<ProbeAnswer()> &probe)
{
    if (!userBackend.isEmpty())
        return {Renderer::Environment, QStringLiteral("%1 is set in the environment").arg(userBackend)};
    if (option == QLatin1String("opengl"))
        return {Renderer::OpenGL, QStringLiteral("--renderer opengl")};
    if (option == QLatin1String("software"))
        return {Renderer::Software, QStringLiteral("--renderer software")};

    const ProbeAnswer answer = probe();
    if (!answer.contextCreated)
        return {Renderer::Software, QStringLiteral("no OpenGL here")};
    if (isSoftwareRasteriser(answer.renderer)) {
        return {Renderer::Software,
                QStringLiteral("OpenGL is %1, a software rasteriser").arg(answer.renderer)};
    }
    return {Renderer::OpenGL, QStringLiteral("OpenGL is %1").arg(answer.renderer)};
}

ProbeAnswer probeOpenGL()
{
    ProbeAnswer answer;
    QOpenGLContext context;
    if (!context.create())
        return answer;
    QOffscreenSurface surface;
    surface.setFormat(context.format());
    surface.create();
    if (!surface.isValid() || !context.makeCurrent(&surface))
        return answer;
    answer.contextCreated = true;
    const auto *name = reinterpret_cast<const char *>(context.functions()->glGetString(GL_RENDERER));
    answer.renderer = name ? QString::fromLatin1(name).trimmed() : QString();
    context.doneCurrent();
    return answer;
}

namespace {

QString userBackend()
{
    for (const char *name : {"QT_QUICK_BACKEND", "QSG_RHI_BACKEND"}) {
        if (!qEnvironmentVariableIsEmpty(name))
            return QStringLiteral("%1=%2").arg(QLatin1String(name), qEnvironmentVariable(name));
    }
    return QString();
}

bool needsProbe(const QString &option)
{
    return option == QLatin1String("auto") && userBackend().isEmpty();
}

// The child's whole life: a GUI application of its own, the probe, the
// answer down the pipe ("1 renderer" or "0"), and out without clean-up.
[[noreturn]] void runProbeChild(int fd, int argc, char *argv[])
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    QByteArray answer("0");
    {
        QGuiApplication app(argc, argv);
        const ProbeAnswer probe = probeOpenGL();
        if (probe.contextCreated)
            answer = "1 " + probe.renderer.toUtf8();
    }
    const char *data = answer.constData();
    qsizetype left = answer.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, size_t(left));
        if (written <= 0)
            break;
        data += written;
        left -= written;
    }
    ::_exit(0);
}

// A driver that hangs does not keep the display dark: past this, no answer.
constexpr int probeTimeoutMs = 5000;

ProbeAnswer readAnswer(Probe &probe)
{
    ProbeAnswer answer;
    QByteArray text;
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        const qint64 left = probeTimeoutMs - waited.elapsed();
        pollfd poll{probe.fd, POLLIN, 0};
        if (left <= 0 || ::poll(&poll, 1, int(left)) <= 0)
            break;
        char buffer[512];
        const ssize_t got = ::read(probe.fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break; // the child is done
        text.append(buffer, got);
    }
    ::close(probe.fd);
    ::kill(probe.pid, SIGKILL); // gone already, unless it hung
    ::waitpid(probe.pid, nullptr, 0);
    if (text.startsWith("1 ")) {
        answer.contextCreated = true;
        answer.renderer = QString::fromUtf8(text.mid(2)).trimmed();
    }
    return answer;
}

} // namespace

Probe start(const QString &option, int argc, char *argv[])
{
    Probe probe;
    probe.option = option;
    if (!needsProbe(option))
        return probe;
    probe.timer.start();
    int fds[2];
    if (::pipe(fds) != 0)
        return probe;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        runProbeChild(fds[1], argc, argv);
    }
    ::close(fds[1]);
    if (pid < 0) {
        ::close(fds[0]);
        return probe;
    }
    probe.pid = pid;
    probe.fd = fds[0];
    return probe;
}

Decision finish(Probe &probe)
{
    qint64 probeTime = -1;
    const Decision decision = decide(probe.option, userBackend(), [&] {
        // No child (fork failed): probe here, at the price of the driver's memory.
        const ProbeAnswer answer = probe.pid > 0 ? readAnswer(probe) : probeOpenGL();
        probeTime = probe.timer.elapsed();
        return answer;
    });
    probe.pid = -1;

    const QString probed = probeTime >= 0 ? QStringLiteral(", probed in %1 ms").arg(probeTime) : QString();
    switch (decision.renderer) {
    case Renderer::Software:
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
        qCInfo(lcRender, "Renderer: software (%s%s)", qUtf8Printable(decision.reason),
               qUtf8Printable(probed));
        break;
    case Renderer::OpenGL:
        QQuickWindow::setGraphicsApi(QSGRendererInterface::OpenGL);
        qCInfo(lcRender, "Renderer: OpenGL (%s%s)", qUtf8Printable(decision.reason), qUtf8Printable(probed));
        break;
    case Renderer::Environment:
        qCInfo(lcRender, "Renderer: as the environment says (%s)", qUtf8Printable(decision.reason));
        break;
    }
    return decision;
}

} // namespace RendererChoice
