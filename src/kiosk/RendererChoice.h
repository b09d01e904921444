#pragma once

#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QString>

#include <functional>

Q_DECLARE_LOGGING_CATEGORY(lcRender)

// Which scene graph draws the window. Qt Quick's OpenGL path redraws the
// whole window every frame; where OpenGL is a software rasteriser that keeps
// the CPU busy for as long as anything moves (the waiting spinner, all night).
// The software adaptation paints only what changed, so it is the choice
// wherever there is no GPU to do the work.
namespace RendererChoice {

enum class Renderer { OpenGL, Software, Environment };

// What the OpenGL probe found: no context at all, or the driver's renderer name.
struct ProbeAnswer
{
    bool contextCreated = false;
    QString renderer; // GL_RENDERER, e.g. "llvmpipe (LLVM 15.0.6, 256 bits)"
};

struct Decision
{
    Renderer renderer = Renderer::OpenGL;
    QString reason; // why, in words, for the log line
};

// The values --renderer takes.
bool isOption(const QString &option);

// Whether a GL_RENDERER string names a rasteriser that runs on the CPU.
bool isSoftwareRasteriser(const QString &renderer);

// option is "auto", "opengl" or "software"; userBackend is what the user set
// in QT_QUICK_BACKEND or QSG_RHI_BACKEND (that wins). The probe runs only
// when the choice depends on it.
Decision decide(const QString &option, const QString &userBackend, const std::function<ProbeAnswer()> &probe);

// Creates an OpenGL context on an offscreen surface and reads its renderer.
// Needs the application object.
ProbeAnswer probeOpenGL();

// A probe under way in a child process: the GL driver (Mesa's llvmpipe
// brings LLVM, some 50 MB) then never loads into the display when it is
// not what draws, and the probe runs while the display starts.
struct Probe
{
    QString option;
    qint64 pid = -1;
    int fd = -1;
    QElapsedTimer timer;
};

// Starts the probe if the choice needs it. Call before the application
// object exists, with main's arguments, before Qt starts any thread (the
// allocator's watcher, which only calls the C library, may run: glibc's
// fork keeps malloc usable in the child).
Probe start(const QString &option, int argc, char *argv[]);

// Takes the probe's answer, decides, sets Qt Quick's graphics API (before
// any window exists) and logs one line with the choice and why.
Decision finish(Probe &probe);

} // namespace RendererChoice
