#include "MainWindow.h"

#include <algorithm>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <cmath>
#include <cstdio>
#include <exception>
#include <new>

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLoggingCategory>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QStringList>
#include <QStyledItemDelegate>
#include <QTimer>

#include "FrameReport.h"
#include "IdleWatcher.h"
#include "LevelScene.h"
#include "MeshOwners.h"
#include "MeshView.h"
#include "Panel.h"
#include "SpinFactorText.h"
#include "dxDevice8.h"
#include "dxMain.h"
#include "trTextura.h"

namespace tr4 {

// One line per frame drawn, for whoever watches the viewer from outside (the end-to-end test):
// QT_LOGGING_RULES="tr4viewer.frames.debug=true". Off by default.
Q_LOGGING_CATEGORY(lcFrames, "tr4viewer.frames", QtWarningMsg)

namespace {

constexpr int kOuterWidth = 956;
constexpr int kOuterHeight = 640;

const char* const kDialogTitle = "Abrir Archivo de Tomb Raider 4";
const char* const kSpinFactorStartText = "0.1";
const char* const kDialogFilter = "Tomb Raider 4|*.tr4";
const char* const kNo3DText =
    "3-D display is unavailable: no OpenGL 3.3 device could be created for the view. "
    "Levels can still be opened and their meshes listed.";

// The layout's typeface is rarely installed outside Windows; these are near in metrics.
QFont LayoutFont(int pixelSize, bool bold) {
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                      QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                      QStringLiteral("DejaVu Sans")});
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

// Rows of one fixed height, whatever the font. (Done by the item size rather than a style sheet:
// a style sheet puts a style of its own under the list, which costs start-up time.)
class FixedRowDelegate : public QStyledItemDelegate {
  public:
    FixedRowDelegate(int rowHeight, QObject* parent)
        : QStyledItemDelegate(parent), rowHeight(rowHeight) {}
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(rowHeight);
        return size;
    }

  private:
    int rowHeight;
};

// A load refused by its budget, the reason already said.
struct LoadRefused {};

// What the mesh list of these owners holds at most: per mesh an item with its text and tooltip
// (UTF-16) and Qt's own records around them.
uint64_t MeshListBytes(const tr4::MeshOwners& owners) {
    constexpr uint64_t kItem = 256;
    return owners.owners.size() * (kItem + 2 * (tr4::BriefOwnersBytes() + 16));
}

QListWidget* MakeListBox(QWidget* parent, int left, int top, int width, int height,
                         int itemHeight) {
    auto* list = new QListWidget(parent);
    list->setGeometry(left, top, width, height);
    list->setUniformItemSizes(true);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setItemDelegate(new FixedRowDelegate(itemHeight, list));
    return list;
}

}  // namespace

QString ToQtNameFilter(const QString& filter) {
    const QStringList fields = filter.split(QLatin1Char('|'));
    QStringList entries;
    for (qsizetype i = 0; i + 1 < fields.size(); i += 2) {
        QString patterns = fields[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        entries << QStringLiteral("%1 (%2)").arg(fields[i], patterns);
    }
    return entries.join(QStringLiteral(";;"));
}

QString ShownCaption(const QString& caption) {
    // Qt puts the application's name on a window whose title is empty; a blank keeps it empty.
    return caption.isEmpty() ? QStringLiteral(" ") : caption;
}

void ShowApplicationError(const QString& message) {
    QMessageBox box(QMessageBox::Critical, QCoreApplication::applicationName(), message,
                    QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

TForm1::TForm1(dxMain& graphics, TForm1Dialogs dialogs)
    : graphics(graphics), dialogs(std::move(dialogs)) {
    BuildLayout();
    if (!this->dialogs.openFile) {
        this->dialogs.openFile = [this](const QString& title, const QString& filter) {
            MakeOpenDialog();
            OpenDialog1->setWindowTitle(title);
            OpenDialog1->setNameFilter(ToQtNameFilter(filter));
            if (OpenDialog1->exec() != QDialog::Accepted) return QString();
            return OpenDialog1->selectedFiles().value(0);
        };
    }
    if (!this->dialogs.messageBox) {
        this->dialogs.messageBox = [](const QString& text, const QString& caption) {
            QMessageBox box(QMessageBox::NoIcon, ShownCaption(caption), text, QMessageBox::Ok);
            box.setWindowModality(Qt::ApplicationModal);
            box.exec();
        };
    }
    if (!this->dialogs.showError) this->dialogs.showError = ShowApplicationError;
    FormCreate();
}

TForm1::~TForm1() {
    // Destroying the box takes its focus away, which would finish an edit of a half-gone window.
    if (Edit1) disconnect(Edit1, nullptr, this, nullptr);
    ReleaseAll();
    // The surface is destroyed with its container, after this body.
    surface = nullptr;
}

void TForm1::BuildLayout() {
    setWindowTitle(QStringLiteral("PROTOTIPO"));
    setFont(LayoutFont(11, false));
    setAutoFillBackground(true);
    move(193, 108);
    resize(kOuterWidth, kOuterHeight);

    MainMenu1 = menuBar();
    File1 = MainMenu1->addMenu(QStringLiteral("File"));
    Open1 = File1->addAction(QStringLiteral("Open Source"));
    N1 = File1->addSeparator();
    Exit1 = File1->addAction(QStringLiteral("Exit"));
    connect(Open1, &QAction::triggered, this, [this] { Guarded([this] { Open1Click(); }); });
    connect(Exit1, &QAction::triggered, this, [this] { Exit1Click(); });

    auto* client = new QWidget(this);
    client->setBackgroundRole(QPalette::Button);
    client->setAutoFillBackground(true);
    setCentralWidget(client);
    setAcceptDrops(true);
}

void TForm1::BuildClientArea() {
    if (Label1) return;
    QWidget* client = centralWidget();

    Label1 = new QLabel(QStringLiteral("Spin Factor"), client);
    Label1->setGeometry(408, 80, 54, 13);
    // The fallback typefaces run wider than the layout's; narrow the label's rather than cut
    // its text.
    for (QFont::Stretch stretch : {QFont::SemiCondensed, QFont::Condensed, QFont::ExtraCondensed}) {
        if (Label1->fontMetrics().horizontalAdvance(Label1->text()) <= Label1->width()) break;
        QFont narrower = Label1->font();
        narrower.setStretch(stretch);
        Label1->setFont(narrower);
    }

    Panel1 = new PanelFrame(client);
    Panel1->setGeometry(296, 112, 321, 385);
    connect(Panel1, &PanelFrame::mouseMoved, this, &TForm1::Panel1MouseMove);
    connect(Panel1, &PanelFrame::mouseReleased, this, &TForm1::Panel1MouseUp);

    ProgressBar1 = new QProgressBar(client);
    ProgressBar1->setGeometry(24, 8, 265, 25);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    ProgressBar2 = new QProgressBar(client);
    ProgressBar2->setGeometry(624, 8, 297, 25);
    ProgressBar2->setRange(0, 100);
    ProgressBar2->setValue(0);
    ProgressBar2->setTextVisible(false);

    GroupBox1 = new QGroupBox(QStringLiteral("Source:"), client);
    GroupBox1->setGeometry(24, 48, 249, 521);
    GroupBox1->setFont(LayoutFont(13, true));
    ListBox1 = MakeListBox(GroupBox1, 8, 24, 233, 225, 13);
    ListBox1->setFont(LayoutFont(11, false));
    ListBox2 = MakeListBox(GroupBox1, 8, 312, 233, 193, 16);

    GroupBox2 = new QGroupBox(QStringLiteral("Target:"), client);
    GroupBox2->setGeometry(640, 48, 257, 521);
    GroupBox2->setFont(LayoutFont(13, true));
    ListBox3 = MakeListBox(GroupBox2, 8, 312, 241, 193, 16);
    ListBox4 = MakeListBox(GroupBox2, 8, 24, 241, 225, 16);

    Edit1 = new QLineEdit(QString::fromLatin1(kSpinFactorStartText), client);
    Edit1->setGeometry(464, 80, 57, 21);
    // Return always checks the text; the box losing focus checks it when it changed since.
    connect(Edit1, &QLineEdit::returnPressed, this, [this] { Edit1EditingFinished(true); });
    connect(Edit1, &QLineEdit::editingFinished, this, [this] { Edit1EditingFinished(false); });

    // Selection changes, by mouse or keyboard. (Not currentRowChanged: focusing an empty
    // selection makes a row current without anyone choosing it.)
    connect(ListBox1, &QListWidget::itemSelectionChanged, this, [this] { ListBox1Click(); });

    Panel1->setFocusPolicy(Qt::TabFocus);
    setTabOrder(Panel1, ProgressBar1);
    setTabOrder(ProgressBar1, ProgressBar2);
    setTabOrder(ProgressBar2, ListBox1);
    setTabOrder(ListBox1, ListBox2);
    setTabOrder(ListBox2, ListBox3);
    setTabOrder(ListBox3, ListBox4);
    setTabOrder(ListBox4, Edit1);

    // Made under a window already shown, they are shown here; under a hidden one, with it.
    if (client->isVisible()) {
        for (QWidget* w : client->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) w->show();
    }
}

void TForm1::setVisible(bool visible) {
    QMainWindow::setVisible(visible);
    // The display has been asked to map the window by now: the widgets below the menu bar, whose
    // fonts and styles take longer to make than the window itself, are made while it maps, and
    // are all there for its first paint.
    if (visible) BuildClientArea();
}

void TForm1::MakeOpenDialog() {
    if (OpenDialog1) return;
    OpenDialog1 = new QFileDialog(this);
    // Any name may be typed and the dialog is resizable. The same widget dialog on every
    // desktop, so it can be driven by keyboard alone; it renames and deletes nothing, since the
    // viewer never writes a file.
    OpenDialog1->setOption(QFileDialog::DontUseNativeDialog, true);
    OpenDialog1->setOption(QFileDialog::ReadOnly, true);
    OpenDialog1->setFileMode(QFileDialog::AnyFile);
    OpenDialog1->setAcceptMode(QFileDialog::AcceptOpen);
    OpenDialog1->setSizeGripEnabled(true);
}

bool TForm1::Has3D() const {
    return device && device->HasDevice();
}

float TForm1::PanelAspect() const {
    return ViewAspect(Panel1->width(), Panel1->height());
}

void TForm1::Guarded(const std::function<void()>& action) {
    // A level too large for memory must not end the program: say so and go on.
    try {
        action();
    } catch (const std::exception& error) {
        dialogs.showError(QString::fromLocal8Bit(error.what()));
    }
}

void TForm1::FormCreate() {
    InstallIdleHandler();
    // The graphics system and the device are not made here but once the window is on screen
    // (StartGraphics): loading the driver and making a context take several times as long as
    // bringing up the window itself.
    // The camera turns by the spin factor box's text (the text it starts with when the box is
    // not made yet), read with "." as the decimal separator whatever the locale.
    const QString spinText = Edit1 ? Edit1->text() : QString::fromLatin1(kSpinFactorStartText);
    const float spinFactor = TextToFloat(spinText.toStdString()).value_or(0.1f);
    camera = std::make_unique<MouseD3D>(spinFactor, kViewStartZoom);
}

void TForm1::StartGraphics() {
    if (graphicsStarted) return;
    graphicsStarted = true;
    if (graphics.ProbeOpenGL(no3DReason)) {
        surface = new PanelSurface();
        surface->setSurfaceType(QSurface::OpenGLSurface);
        connect(surface, &PanelSurface::exposed, this, &TForm1::FormPaint);
        connect(surface, &PanelSurface::mouseMoved, this, &TForm1::Panel1MouseMove);
        connect(surface, &PanelSurface::mouseReleased, this, &TForm1::Panel1MouseUp);
        connect(surface, &PanelSurface::levelDropped, this, &TForm1::OpenLevelFileLater);
        if (graphics.CreateRenderDevice(surface, device, no3DReason, QSize(),
                                        /*pageStoreLater=*/true)) {
            Panel1->Embed(surface);
        } else {
            // A device without a context is of no use, and it would outlive its surface.
            device.reset();
            delete surface;
            surface = nullptr;
        }
    }
    if (device) {
        device->SetClearColor(255, 255, 255);
        frameCamera.projection = ViewerProjection(PanelAspect());
    }
    if (!Has3D()) {
        Panel1->ShowUnavailable(QString::fromLatin1(kNo3DText));
        // Said once, after the window has come up.
        QTimer::singleShot(0, this, [this] { ReportNo3D(); });
    }
}

void TForm1::DropGraphics(const std::string& why) {
    if (!Has3D()) return;
    no3DReason = why;
    // The level's pages and meshes stay as plain memory; nothing draws them any more.
    device.reset();
    if (QWidget* view = Panel1->Container()) view->hide();
    Panel1->ShowUnavailable(QString::fromLatin1(kNo3DText));
    ReportNo3D();
}

void TForm1::ReportNo3D() {
    if (no3DReported) return;
    no3DReported = true;
    // Say why, as far as the graphics system knows.
    const std::string& why = no3DReason;
    dialogs.showError(why.empty() ? QString::fromLatin1(kNo3DText)
                                  : QStringLiteral("%1 (%2)").arg(QString::fromLatin1(kNo3DText),
                                                                  QString::fromStdString(why)));
}

void TForm1::InstallIdleHandler() {
    new IdleWatcher([this] { MyIdleHandler(); }, this);
}

void TForm1::MyIdleHandler() {
    FormPaint();
}

void TForm1::Edit1EditingFinished(bool byReturn) {
    // The text is read when the edit is finished (Return, or the box losing focus), never while
    // it is typed: "0" and "0." on the way to "0.01" are not what the person means, and an error
    // box in the middle of typing would swallow the next keys. The error box itself takes the
    // focus; that is no new edit.
    const QString text = Edit1->text();
    if (reportingSpinFactor || (!byReturn && text == checkedSpinText)) return;
    checkedSpinText = text;
    if (const std::optional<float> value = TextToFloat(text.toStdString())) {
        if (camera) camera->SetSpinFactor(*value);
        return;
    }
    // The last good factor stays meanwhile.
    reportingSpinFactor = true;
    dialogs.showError(QString::fromStdString(FloatConversionError(text.toStdString())));
    reportingSpinFactor = false;
}

void TForm1::FormPaint() {
    if (!Has3D() || !surface || !surface->isExposed()) return;

    const tr4::MeshRecord* record = SelectedRecord();
    const MeshView view{viewState.rotationY, viewState.rotationX, viewState.zoom, viewState.panX,
                        viewState.panY};
    std::string why;
    const bool shown =
        DrawMeshFrame(*device, frameCamera, scene ? scene->RenderMesh(viewState.selected) : nullptr,
                      record, view, why);
    // Whoever launched the viewer to time its start-up learns when a level is first on screen.
    ReportFramePresented(shown && ListBox1 && ListBox1->count() > 0);
    // The page store is made after the first frame, not with the device (StartGraphics): the
    // driver's zero-filling of it then no longer delays the first sight of a level named on the
    // command line, and is done while the depth question waits. (Pages built first make it.)
    // So are the drawing programs and the driver's preparation for copying frames that show a
    // mesh: the first frames, all white, were shown without them. A driver that refuses the
    // programs leaves the window without 3-D display, as one without a device would.
    if (shown) {
        device->MakePageStore();
        std::string refused;
        if (!device->PrepareToDraw(refused))
            QTimer::singleShot(0, this, [this, refused] { DropGraphics(refused); });
    }
    ++lastFrame.count;
    qCDebug(lcFrames, "frame %d", lastFrame.count);
    lastFrame.meshDrawn = record != nullptr;
    lastFrame.applied = viewState;

    if (device->IsLost()) RecoverLostDevice();
}

void TForm1::RecoverLostDevice() {
    std::string why;
    if (!device->ResetDevice(why)) return;  // still lost: the next frame tries again
    frameCamera.projection = ViewerProjection(PanelAspect(), kViewFarAfterReset);
    device->SetClearColor(255, 255, 255);
}

void TForm1::Open1Click() {
    if (loading) return;
    const QString path =
        dialogs.openFile(QString::fromLatin1(kDialogTitle), QString::fromLatin1(kDialogFilter));
    if (path.isEmpty()) return;
    OpenLevelFile(path);
}

bool TForm1::OpenLevelFile(const QString& path) {
    if (loading) return false;
    BuildClientArea();  // a window never shown still lists the level
    StartGraphics();    // a level opened before the first frame still gets its pages
    // Handlers that would touch the level wait until the open is done; the message box below is
    // modal to the application besides, and frames keep drawing the current level meanwhile.
    loading = true;
    struct LoadDone {
        bool& loading;
        ~LoadDone() { loading = false; }
    } loadDone{loading};

    // The new level, its meshes, pages and render meshes are all made beside the current ones,
    // each taken from the file's memory budget first. Only when every step has succeeded do they
    // replace the current ones: a file that cannot be opened, is refused or runs out of memory
    // leaves the level, its list, selection, view and textures exactly as they were.
    const QByteArray nativePath = QFile::encodeName(path);
    auto fresh = std::make_unique<LevelScene>();
    std::string failure;
    bool listShown = false;
    const QString oldTitle = GroupBox1->title();
    const QString oldTip = GroupBox1->toolTip();
    const int oldRow = ListBox1->currentRow();
    const bool oldRowSelected = oldRow >= 0 && ListBox1->item(oldRow)->isSelected();
    const int oldSelected = viewState.selected;
    try {
        const PageDepth depth = DepthFor(graphics, Has3D() ? device.get() : nullptr);
        if (fresh->Load(std::string(nativePath.constData(), nativePath.size()), failure) &&
            fresh->Reserve(depth, failure)) {
            // The owner table and the list's tooltips are the file's to pay for too: a few
            // kilobytes of level can name one mesh millions of times.
            tr4::MeshOwners owners;
            if (!tr4::FindMeshOwners(*fresh->Level(), fresh->Meshes(), fresh->Budget(), owners,
                                     failure) ||
                !fresh->Budget().Take(MeshListBytes(owners), "the mesh list and its tooltips",
                                      failure))
                throw LoadRefused();
            // The new list shows while the depth question waits, as it always has; it is put
            // back should the rest fail. Nothing of it is selected, so the view shows white
            // meanwhile, not a mesh of the level it replaces.
            listShown = true;
            viewState.selected = -1;
            ShowMeshList(owners, fresh->Warnings());
            if (depth != PageDepth::None) {
                dialogs.messageBox(depth == PageDepth::Bits32
                                       ? QStringLiteral("Se renderiza con 32 bits")
                                       : QStringLiteral("Se renderiza con 16 bits"),
                                   QString());
                fresh->Build(*device, failure);
            }
        }
    } catch (const LoadRefused&) {
        // failure says why
    } catch (const std::bad_alloc&) {
        failure = "out of memory";
    }
    for (const std::string& w : fresh->Warnings())
        std::fprintf(stderr, "tr4viewer: %s: warning: %s\n", nativePath.constData(), w.c_str());
    if (!failure.empty()) {
        fresh.reset();
        viewState.selected = oldSelected;
        if (listShown) {
            FillMeshList();
            if (oldRow >= 0 && oldRow < (scene ? scene->Count() : 0)) {
                ListBox1->setCurrentRow(oldRow, oldRowSelected ? QItemSelectionModel::ClearAndSelect
                                                               : QItemSelectionModel::NoUpdate);
            }
            GroupBox1->setTitle(oldTitle);
            GroupBox1->setToolTip(oldTip);
        }
        std::fprintf(stderr, "tr4viewer: %s: %s\n", nativePath.constData(), failure.c_str());
        // The reason's own "cannot open" would repeat the message's.
        QString reason = QString::fromStdString(failure);
        if (reason.startsWith(QStringLiteral("cannot open: "))) reason.remove(0, 13);
        // What the refused level took goes back to the system now, as after an open, not at
        // the next open that succeeds.
        if (device) device->TrimPageStore();
#ifdef __GLIBC__
        malloc_trim(0);
#endif
        dialogs.showError(QStringLiteral("Cannot open %1: %2").arg(path, reason));
        return false;
    }

    // Everything is made: the new level takes the old one's place.
    viewState.selected = -1;
    scene = std::move(fresh);
    // Warnings of the build join those of the load.
    ShowReadInPart(scene->Warnings());
    // The replaced level's pages leave holes in the page store, and its buffers went back to the
    // C heap, which keeps most of them: give both back, so a small level after a large one costs
    // what the small one alone does.
    if (device) device->TrimPageStore();
#ifdef __GLIBC__
    malloc_trim(0);
#endif
    return true;
}

void TForm1::ShowReadInPart(const std::vector<std::string>& warnings) {
    QStringList notes;
    for (const std::string& w : warnings) notes << QString::fromStdString(w);
    GroupBox1->setToolTip(notes.isEmpty()
                              ? QString()
                              : QStringLiteral("Read in part:\n") + notes.join(QLatin1Char('\n')));
}

void TForm1::ShowMeshList(const tr4::MeshOwners& owners, const std::vector<std::string>& warnings) {
    GroupBox1->setTitle(QStringLiteral("Meshes: %1").arg(owners.owners.size()));
    // A level read only in part says so where its meshes are counted.
    ShowReadInPart(warnings);
    FillMeshList(owners);
}

void TForm1::ListBox1Click() {
    if (loading || !camera || !scene) return;
    const QList<QListWidgetItem*> chosen = ListBox1->selectedItems();
    if (chosen.isEmpty()) return;  // a click that leaves nothing selected does nothing
    const int i = ListBox1->row(chosen.front());

    const tr4::MeshRecord* record = scene->Record(i);
    // Large meshes start further away, so the eye is never inside them.
    const float zoom = record ? FitZoom(*record, PanelAspect()) : kViewStartZoom;
    camera->ResetCamera();
    camera->SetZoom(zoom);
    if (!record) return;
    viewState.selected = i;
    // The first frame of the new mesh still shows the previous rotation, zoom and pan.
    FormPaint();
    viewState.ResetView(zoom);
}

void TForm1::Exit1Click() {
    ReleaseAll();
    // "Exit" ends the program: a window left open with its device gone would show nothing.
    close();
}

void TForm1::closeEvent(QCloseEvent* event) {
    ReleaseAll();
    event->accept();
}

void TForm1::ReleaseAll() {
    viewState.selected = -1;
    scene.reset();
    device.reset();
    camera.reset();
}

const tr4::Lista_Mesh* TForm1::MeshList() const {
    return scene ? scene->Meshes() : nullptr;
}

const tr4::MeshRecord* TForm1::SelectedRecord() const {
    return scene ? scene->Record(viewState.selected) : nullptr;
}

const trTextura* TForm1::TexturePages() const {
    return scene ? scene->Pages() : nullptr;
}

void TForm1::Panel1MouseMove(const ShiftState& shift, int x, int y) {
    if (!camera) return;
    FeedMouseMove(*camera, viewState, shift, x, y);
}

void TForm1::Panel1MouseUp() {
    if (camera) camera->EndDrag();
}

QImage TForm1::GrabPanelFrame() {
    return Has3D() ? device->ReadFrame() : QImage();
}

void TForm1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!outerSizeFixed) {
        outerSizeFixed = true;
        // The layout gives the outer size, frame included; a window manager adds its frame
        // around the size Qt is given.
        const QSize frame = frameGeometry().size() - geometry().size();
        if (frame != QSize(0, 0))
            resize(kOuterWidth - frame.width(), kOuterHeight - frame.height());
    }
}

void TForm1::paintEvent(QPaintEvent* event) {
    QMainWindow::paintEvent(event);
    // The first paint means the window is on screen; the graphics follow from the event loop,
    // not from inside a paint.
    if (!graphicsStarted && !graphicsQueued) {
        graphicsQueued = true;
        QTimer::singleShot(0, this, [this] { StartGraphics(); });
    }
    FormPaint();
}

void TForm1::FillMeshList() {
    // The level shown was within its budget when it was opened, its owners included.
    FillMeshList(scene && scene->Meshes() ? tr4::FindMeshOwners(*scene->Level(), scene->Meshes())
                                          : tr4::MeshOwners{});
}

void TForm1::FillMeshList(const tr4::MeshOwners& owners) {
    ListBox1->clear();
    for (size_t i = 0; i < owners.owners.size(); ++i) {
        auto* item = new QListWidgetItem(QStringLiteral("Objeto:%1").arg(i));
        // A few lines at most, however many objects use the mesh.
        item->setToolTip(QString::fromStdString(tr4::DescribeOwnersBriefly(owners.owners[i])));
        ListBox1->addItem(item);
    }
}

QString LevelFileOf(const QMimeData* data) {
    if (!data || !data->hasUrls()) return QString();
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile()) continue;
        const QString path = url.toLocalFile();
        if (QFileInfo(path).suffix().compare(QStringLiteral("tr4"), Qt::CaseInsensitive) == 0)
            return path;
    }
    return QString();
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
    if (!loading && !LevelFileOf(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void TForm1::dragMoveEvent(QDragMoveEvent* event) {
    if (!loading && !LevelFileOf(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
    const QString path = LevelFileOf(event->mimeData());
    if (path.isEmpty()) return;
    event->acceptProposedAction();
    OpenLevelFileLater(path);
}

void TForm1::OpenLevelFileLater(const QString& path) {
    // From the event loop: a drop must finish before the load's message box waits for the
    // person, and a level named on the command line opens once the window is up.
    QTimer::singleShot(0, this, [this, path] { Guarded([this, path] { OpenLevelFile(path); }); });
}

}  // namespace tr4
