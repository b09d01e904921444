#include "RendererChoice.h"

#include <QElapsedTimer>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QQuickWindow>
#include <QSGRendererInterface>

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

Decision apply(const QString &option)
{
    QString userBackend;
    for (const char *name : {"QT_QUICK_BACKEND", "QSG_RHI_BACKEND"}) {
        if (!qEnvironmentVariableIsEmpty(name)) {
            userBackend = QStringLiteral("%1=%2").arg(QLatin1String(name), qEnvironmentVariable(name));
            break;
        }
    }
    QElapsedTimer timer;
    qint64 probeTime = -1;
    const Decision decision = decide(option, userBackend, [&] {
        timer.start();
        const ProbeAnswer answer = probeOpenGL();
        probeTime = timer.elapsed();
        return answer;
    });

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
