#include "platform/process/GraphicsSetup.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QOpenGLContext>

namespace {

constexpr char GlIntegrationVariable[] = "QT_XCB_GL_INTEGRATION";

void settleRasterGraphics()
{
    // The X11 back end decides once, on the first question about OpenGL, and remembers the
    // answer: ask now, while the variable still says "none".
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr)
        QOpenGLContext::supportsThreadedOpenGL();
    // Players and applications started later get the environment the user gave us.
    qunsetenv(GlIntegrationVariable);
}

} // namespace

void preferRasterGraphics()
{
    if (qEnvironmentVariableIsSet(GlIntegrationVariable))
        return;
    qputenv(GlIntegrationVariable, "none");
    qAddPreRoutine(settleRasterGraphics);
}
