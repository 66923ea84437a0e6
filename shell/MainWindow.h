#pragma once
// The viewer's main window TForm1 with its controls, its handlers and the viewer's state: the
// render device, the loaded level with its texture pages and mesh list, the selection, the mouse
// camera, the ViewState and the camera of the frames. Everything runs on the GUI thread, one
// handler at a time.
//
// Ownership: the window owns the device, the level scene (the level with its pages and render
// meshes) and the camera; the selection is an index into the scene. The graphics system (dxMain)
// is owned by the caller and must outlive the window.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QImage>
#include <QMainWindow>
#include <QString>

#include "FeedMouseMove.h"
#include "Level.h"
#include "MeshList.h"
#include "MeshOwners.h"
#include "MeshView.h"

class QAction;
class QFileDialog;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMimeData;
class QListWidget;
class QMenu;
class QMenuBar;
class QProgressBar;
class QWidget;

namespace tr4 {

class PanelFrame;
class PanelSurface;
class LevelScene;
class dxDevice8;
class dxMain;
class trTextura;

// The places where the window waits for a person. Tests replace them to answer without one.
struct TForm1Dialogs {
    // Shows the open dialog with its title and filter ("description|pattern"); the chosen path,
    // or an empty string when cancelled.
    std::function<QString(const QString& title, const QString& filter)> openFile;
    // A message box with one OK button, modal to the whole application.
    std::function<void(const QString& text, const QString& caption)> messageBox;
    // The application's standard error display.
    std::function<void(const QString& message)> showError;
};

// What the last call of FormPaint did, for the tests that follow the frames.
struct FrameRecord {
    int count = 0;           // FormPaint calls that reached the device
    bool meshDrawn = false;  // the last one drew a mesh
    ViewState applied;       // the view values that frame applied
};

class TForm1 : public QMainWindow {
  public:
    // Builds the window and its menu bar and runs FormCreate; the controls below the menu bar
    // come when the window is first shown. Without dialogs the real ones are used. The graphics
    // system and the device are made after the window has first been painted (StartGraphics),
    // so the window appears about as soon as a bare one would.
    explicit TForm1(dxMain& graphics, TForm1Dialogs dialogs = {});
    ~TForm1() override;

    // Handlers.
    void FormCreate();
    // Creates the graphics system and the render device on the view panel, or reports that 3-D
    // display is unavailable. Runs once; later calls do nothing.
    void StartGraphics();
    // StartGraphics has run (with or without a device).
    bool GraphicsStarted() const { return graphicsStarted; }
    void FormPaint();
    void MyIdleHandler();
    // The open dialog, then OpenLevelFile with the chosen path.
    void Open1Click();
    // Opens a level: the file named on the command line, dropped onto the window or chosen in
    // the open dialog all come here. The level replaces the current one only when all of it
    // could be made; otherwise the reason is shown and nothing changes. True when it replaced it.
    bool OpenLevelFile(const QString& path);
    // OpenLevelFile once the event loop runs again.
    void OpenLevelFileLater(const QString& path);
    // Checks the spin factor typed in Edit1: a number becomes the camera's factor, anything
    // else is reported once and the last good factor stays.
    // byReturn: Return was pressed; otherwise the box lost focus, which checks a changed text only.
    void Edit1EditingFinished(bool byReturn);
    void ListBox1Click();
    void Exit1Click();
    void Panel1MouseMove(const ShiftState& shift, int x, int y);
    void Panel1MouseUp();
    void ReleaseAll();

    // Controls, named as in the layout. Those below the menu bar are made when the window is
    // first shown (so it maps sooner), or by an open into a window never shown; none before.
    QLabel* Label1 = nullptr;
    PanelFrame* Panel1 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QProgressBar* ProgressBar2 = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QListWidget* ListBox1 = nullptr;
    QListWidget* ListBox2 = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    QListWidget* ListBox3 = nullptr;
    QListWidget* ListBox4 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QMenuBar* MainMenu1 = nullptr;
    QMenu* File1 = nullptr;
    QAction* Open1 = nullptr;
    QAction* N1 = nullptr;
    QAction* Exit1 = nullptr;
    QFileDialog* OpenDialog1 = nullptr;  // made at the first "Open Source" (MakeOpenDialog)

    // State, read by tests.
    dxDevice8* Device() const { return device.get(); }
    // The level shown, with its pages and render meshes; none before the first open.
    const LevelScene* Scene() const { return scene.get(); }
    const tr4::Lista_Mesh* MeshList() const;
    const tr4::MeshRecord* SelectedRecord() const;
    const MouseD3D* Camera() const { return camera.get(); }
    const ViewState& View() const { return viewState; }
    const trTextura* TexturePages() const;
    const FrameRecord& LastFrame() const { return lastFrame; }
    // The projection of the frames, and the eye and target of the last one that drew a mesh.
    const ViewCamera& FrameCamera() const { return frameCamera; }
    // The native surface of the view; none without 3-D display.
    PanelSurface* Surface() const { return surface; }
    bool Has3D() const;
    // The last frame as the panel shows it; null without a device.
    QImage GrabPanelFrame();
    // The aspect used for the projection: the panel's width over its height.
    float PanelAspect() const;

    // Showing the window the first time also makes the controls below the menu bar.
    void setVisible(bool visible) override;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    // The window itself: title, size, menu bar and the empty client area.
    void BuildLayout();
    // The widgets of the client area, made once: when the window is first shown, or before a
    // level is opened into a window never shown.
    void BuildClientArea();
    // The open dialog, made when first needed: making it costs more than the rest of the window.
    void MakeOpenDialog();
    void InstallIdleHandler();
    // Runs action; an exception it throws is shown, not passed on.
    void Guarded(const std::function<void()>& action);
    // One item per mesh, "Objeto:N", whose tooltip names the objects that use the mesh, briefly.
    void FillMeshList(const tr4::MeshOwners& owners);
    // The same for the level shown (none without one).
    void FillMeshList();
    void RecoverLostDevice();
    // Gives up the device, which cannot draw for the reason given: the view says 3-D display is
    // unavailable and why, once.
    void DropGraphics(const std::string& why);
    void ReportNo3D();
    // The caption "Meshes: N" with the warnings as its tooltip, and one line per mesh.
    void ShowMeshList(const tr4::MeshOwners& owners, const std::vector<std::string>& warnings);
    void ShowReadInPart(const std::vector<std::string>& warnings);

    dxMain& graphics;
    TForm1Dialogs dialogs;

    std::unique_ptr<dxDevice8> device;
    std::unique_ptr<LevelScene> scene;
    std::unique_ptr<MouseD3D> camera;
    ViewState viewState;
    ViewCamera frameCamera;

    PanelSurface* surface = nullptr;
    bool loading = false;
    bool outerSizeFixed = false;
    bool no3DReported = false;
    std::string no3DReason;  // why there is no device, as the graphics system said
    bool graphicsStarted = false;
    bool graphicsQueued = false;
    bool reportingSpinFactor = false;
    QString checkedSpinText = QStringLiteral("0.1");
    FrameRecord lastFrame;
};

// The application's standard error display: a message box with the error's message.
void ShowApplicationError(const QString& message);
// "Tomb Raider 4|*.tr4" as a Qt name filter: "Tomb Raider 4 (*.tr4)".
QString ToQtNameFilter(const QString& filter);
// The caption a window is given so that an empty one shows empty, not as the application's name.
QString ShownCaption(const QString& caption);
// The first local .tr4 file among dropped data (any case of the suffix); empty when none.
QString LevelFileOf(const QMimeData* data);

}  // namespace tr4
