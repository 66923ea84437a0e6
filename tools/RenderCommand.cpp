// tr4tool render: draws a mesh of a level exactly as the viewer's frame does, offscreen, into PNG
// files. Needs a display for the OpenGL context (xvfb-run gives one).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <QDir>
#include <QGuiApplication>
#include <QImage>

#include "Commands.h"
#include "LevelScene.h"
#include "MeshView.h"
#include "PngFiles.h"
#include "dxDevice8.h"
#include "dxMain.h"

using namespace tr4;

namespace tr4tool {
namespace {

// Beyond the usual 0, 1 and 2: the level was read but no picture could be made or written.
constexpr int kCannotRender = 3;

struct RenderOptions {
    std::string path;
    std::optional<int> index;
    std::string output;
    std::string allDir;
    int width = kViewPanelWidth;
    int height = kViewPanelHeight;
    MeshView view;
    bool zoomGiven = false;  // else each mesh gets the zoom the viewer would fit it with
};

bool ParseFloat(const std::string& text, float& out) {
    // "." is the decimal separator whatever the locale, as in the viewer.
    try {
        size_t used = 0;
        const float v = std::stof(text, &used);
        // "nan" and "inf" draw nothing or garbage: no number for a view.
        if (used != text.size() || !std::isfinite(v)) return false;
        out = v;
        return true;
    } catch (...) {
        return false;
    }
}

// A count of pixels or a mesh index: digits only, at most 2^30.
bool ParseInt(const std::string& text, int& out) {
    unsigned long long v = 0;
    if (!ParseCount(text, 1u << 30, v)) return false;
    out = static_cast<int>(v);
    return true;
}

// Returns an empty string when the arguments make sense, else why not.
std::string Parse(const Args& args, RenderOptions& o) {
    std::vector<std::string> positional;
    std::set<std::string> given;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        auto value = [&]() -> const std::string& { return args[++i]; };
        if (a == "-o" || a == "--all" || a == "--size" || a == "--yaw" || a == "--pitch" ||
            a == "--zoom" || a == "--pan") {
            if (!hasValue) return a + " needs a value";
            // A second value would silently replace the first: which picture was meant?
            if (!given.insert(a).second) return a + " is given more than once";
            const std::string& v = value();
            if (a == "-o") {
                o.output = v;
            } else if (a == "--all") {
                o.allDir = v;
            } else if (a == "--size") {
                const size_t x = v.find('x');
                if (x == std::string::npos || !ParseInt(v.substr(0, x), o.width) ||
                    !ParseInt(v.substr(x + 1), o.height) || o.width < 1 || o.height < 1 ||
                    o.width > 8192 || o.height > 8192)
                    return "--size wants WxH, each 1 to 8192";
            } else if (a == "--yaw") {
                if (!ParseFloat(v, o.view.rotationY)) return "--yaw wants a finite number";
            } else if (a == "--pitch") {
                if (!ParseFloat(v, o.view.rotationX)) return "--pitch wants a finite number";
            } else if (a == "--zoom") {
                if (!ParseFloat(v, o.view.zoom)) return "--zoom wants a finite number";
                o.zoomGiven = true;
            } else {
                const size_t comma = v.find(',');
                if (comma == std::string::npos || !ParseFloat(v.substr(0, comma), o.view.panX) ||
                    !ParseFloat(v.substr(comma + 1), o.view.panY))
                    return "--pan wants X,Y, finite numbers";
            }
        } else if (auto why = TakeOperand(a, positional); !why.empty()) {
            return why;
        }
    }
    if (positional.empty()) return "render needs a FILE";
    o.path = positional[0];
    if (o.allDir.empty()) {
        if (positional.size() != 2) return "render needs FILE INDEX -o OUT.png";
        int index = 0;
        if (!ParseInt(positional[1], index)) return "INDEX must be a mesh number";
        o.index = index;
        if (o.output.empty()) return "render needs -o OUT.png";
    } else if (positional.size() != 1 || !o.output.empty()) {
        return "--all DIR takes FILE only, without INDEX or -o";
    }
    return "";
}

bool HaveDisplay() {
    return std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY") ||
           std::getenv("QT_QPA_PLATFORM");
}

// Qt ends the process (a fatal message, then abort) when its platform plugin cannot start: no X
// server behind DISPLAY, no compositor for QT_QPA_PLATFORM=wayland, a plugin that is not
// installed. While the application is made, the first thing Qt says is kept as the reason, and
// that end becomes the exit status of a render without a display, 3.
std::string platformReason;
QtMessageHandler qtHandler = nullptr;

void WhilePlatformStarts(QtMsgType type, const QMessageLogContext& context,
                         const QString& message) {
    if (type != QtFatalMsg) {
        if (platformReason.empty()) platformReason = message.toStdString();
        if (qtHandler) qtHandler(type, context, message);
        return;
    }
    const std::string why = platformReason.empty() ? message.toStdString() : platformReason;
    std::fprintf(stderr, "tr4tool: render needs a display, and none can be used: %s\n",
                 why.c_str());
    std::fflush(nullptr);
    std::_Exit(kCannotRender);  // nothing is written yet; Qt would abort right after this
}

int Fail(const std::string& why) {
    std::fprintf(stderr, "tr4tool: %s\n", why.c_str());
    return kCannotRender;
}

}  // namespace

int RenderInProcess(const Args& args, const std::function<void(tr4::dxDevice8&)>& prepare) {
    RenderOptions o;
    if (const std::string why = Parse(args, o); !why.empty()) return UsageError(why);
    // The level being read is never a picture, however either is spelled.
    const std::optional<tr4export::FileId> input = tr4export::IdOf(o.path);
    if (input && !o.output.empty() && tr4export::IdOf(o.output) == input)
        return UsageError(o.output + " is the level being read; choose another output");

    LevelScene scene;
    if (std::string why; !scene.Load(o.path, why)) {
        PrintWarnings(o.path, scene.Warnings());
        std::fprintf(stderr, "tr4tool: %s: %s\n", o.path.c_str(), why.c_str());
        return 1;
    }
    const int count = scene.Count();
    if (o.index && *o.index >= count) {
        std::fprintf(stderr, "tr4tool: INDEX %d is out of range: %s has %d meshes (0 to %d)\n",
                     *o.index, o.path.c_str(), count, count - 1);
        return 2;
    }

    if (!HaveDisplay()) return Fail("render needs a display (run it under xvfb-run)");
    static int argc = 1;
    static char name[] = "tr4tool";
    static char* argv[] = {name, nullptr};
    qtHandler = qInstallMessageHandler(WhilePlatformStarts);
    QGuiApplication app(argc, argv);
    qInstallMessageHandler(qtHandler);
    dxMain system;
    if (std::string why; !system.ProbeOpenGL(why))
        return Fail("no OpenGL 3.3 context can be made: " + why);
    std::unique_ptr<dxDevice8> device;
    if (std::string why; !system.CreateRenderDevice(nullptr, device, why, QSize(o.width, o.height)))
        return Fail("the render device could not be created: " + why);
    if (prepare) prepare(*device);

    // Pages and render meshes come out of the level's budget too, taken before anything is made,
    // at the depth they are made with.
    if (std::string refused; !scene.Reserve(DepthFor(system, device.get()), refused)) {
        std::fprintf(stderr, "tr4tool: %s: %s\n", o.path.c_str(), refused.c_str());
        return 1;
    }
    // The picture stands for the viewer's panel: at the default size the two are the same.
    const float aspect = ViewAspect(o.width, o.height);
    ViewCamera camera{ViewerProjection(aspect)};
    std::string notBuilt;
    const bool built = scene.Build(*device, notBuilt);
    PrintWarnings(o.path, scene.Warnings());
    if (!built) return Fail(notBuilt);

    // Draws the mesh and reads the frame back; a null image, and why, when that failed.
    auto drawOne = [&](int index, std::string& why) -> QImage {
        const tr4::MeshRecord* record = scene.Record(index);
        if (record == nullptr) {
            why = "mesh " + std::to_string(index) + " does not exist";
            return QImage();
        }
        MeshView view = o.view;
        if (!o.zoomGiven) view.zoom = FitZoom(*record, aspect);
        if (std::string reason;
            !DrawMeshFrame(*device, camera, scene.RenderMesh(index), record, view, reason)) {
            why = "could not draw mesh " + std::to_string(index) + ": " + reason;
            return QImage();
        }
        QImage frame = device->ReadFrame();
        if (frame.isNull()) {
            // The device's reason is read after the step that failed, so it is that step's.
            const std::string& gl = device->LastGlError();
            const std::string& reason = gl.empty() ? device->LastError() : gl;
            why = "could not read the frame back" + (reason.empty() ? "" : ": " + reason);
        }
        return frame;
    };

    int status = 0;
    if (o.index) {
        std::string why;
        const QImage frame = drawOne(*o.index, why);
        if (frame.isNull())
            status = Fail(why);
        else if (std::string error; !WritePng(frame, o.output, error, input))
            status = Fail(error);
    } else {
        if (!QDir().mkpath(QString::fromStdString(o.allDir)))
            status = Fail("cannot make the folder " + o.allDir);
        // Zero-padded to the width of the last index (at least 3), so names sort as indices do.
        const int digits = std::max<int>(3, static_cast<int>(std::to_string(count - 1).size()));
        // Each picture is encoded on the second core while the next mesh is drawn.
        PngWriterThread writer(input);
        for (int i = 0; status == 0 && i < count; ++i) {
            std::string name = std::to_string(i);
            name.insert(0, static_cast<size_t>(digits) - std::min(name.size(), size_t(digits)),
                        '0');
            const std::string out = o.allDir + "/" + name + ".png";
            std::string why;
            QImage frame = drawOne(i, why);
            if (frame.isNull())
                status = Fail(why);
            else
                writer.Put(std::move(frame), out);
            if (const std::string failed = writer.FirstFailure(); status == 0 && !failed.empty())
                status = Fail(failed);
        }
        if (const std::string failed = writer.Finish(); status == 0 && !failed.empty())
            status = Fail(failed);
    }
    return status;
}

}  // namespace tr4tool
