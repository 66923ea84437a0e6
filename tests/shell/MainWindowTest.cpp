// The main window under a display: layout and texts, the load flow with its dialogs answered by
// the test, selection, frames, mouse drags, device loss, the spin-factor error and shutdown.
#include <errno.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <deque>
#include <memory>
#include <new>
#include <set>
#include <thread>

#include <QCheckBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include "FrameReport.h"
#include "HostileLevels.h"
#include "LevelLoader.h"
#include "LevelScene.h"
#include "LevelWriter.h"
#include "LoadLevel.h"
#include "MainWindow.h"
#include "MemoryBudget.h"
#include "MeshOwners.h"
#include "Panel.h"
#include "dxDevice8.h"
#include "dxMain.h"
#include "trTextura.h"

using namespace tr4;

// Allocations made to fail on purpose. While armed, on the test's own thread (or, with
// gOtherThreads, on every other thread instead), every allocation of at least gFailFrom bytes is
// counted, and the one after gFailSkip of them throws std::bad_alloc as a full memory would.
// Every form of new and delete goes through malloc and free, so the pairs stay matched whoever
// allocates.
namespace {
std::atomic<bool> gArmed{false};
std::thread::id gArmedThread;
bool gOtherThreads = false;
size_t gFailFrom = 0;
long gFailSkip = -1;  // -1: count only
std::atomic<long> gCounted{0};

void* Allocate(size_t n) {
    if (gArmed.load() && n >= gFailFrom &&
        (std::this_thread::get_id() == gArmedThread) != gOtherThreads) {
        if (gCounted.fetch_add(1) == gFailSkip && gFailSkip >= 0) {
            gArmed = false;
            throw std::bad_alloc();
        }
    }
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}

void Arm(size_t from, long skip, bool otherThreads = false) {
    gFailFrom = from;
    gFailSkip = skip;
    gCounted = 0;
    gArmedThread = std::this_thread::get_id();
    gOtherThreads = otherThreads;
    gArmed = true;
}
}  // namespace

void* operator new(size_t n) {
    return Allocate(n);
}
void* operator new[](size_t n) {
    return Allocate(n);
}
void* operator new(size_t n, const std::nothrow_t&) noexcept {
    try {
        return Allocate(n);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](size_t n, const std::nothrow_t&) noexcept {
    try {
        return Allocate(n);
    } catch (...) {
        return nullptr;
    }
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}

namespace {

dxMain graphicsSystem;

long PeakResidentKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// What the window asked of the person, and the answers the test gives.
struct Person {
    std::deque<QString> paths;  // next answers of the open dialog; empty: cancel
    QStringList dialogTitles, dialogFilters;
    QStringList boxTexts, boxCaptions, errors;
    std::function<void()> duringMessageBox;

    TForm1Dialogs Dialogs() {
        TForm1Dialogs d;
        d.openFile = [this](const QString& title, const QString& filter) {
            dialogTitles << title;
            dialogFilters << filter;
            if (paths.empty()) return QString();
            QString path = paths.front();
            paths.pop_front();
            return path;
        };
        d.messageBox = [this](const QString& text, const QString& caption) {
            boxTexts << text;
            boxCaptions << caption;
            if (duringMessageBox) duringMessageBox();
        };
        d.showError = [this](const QString& message) { errors << message; };
        return d;
    }
};

// The projection the window should have set: pi/4, its aspect, near 0.1 and the far plane.
bool ProjectionHasFarPlane(const D3DXMATRIX& projection, float aspect, float farPlane) {
    D3DXMATRIX expected;
    D3DXMatrixPerspectiveFovLH(&expected, 0.785398185f, aspect, 0.1f, farPlane);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            if (expected(r, c) != projection(r, c)) return false;
    return true;
}

bool IsWhite(QRgb pixel) {
    return (pixel & 0xFFFFFF) == 0xFFFFFF;
}

// Mean position of the drawn (non-white) pixels.
QPointF Centroid(const QImage& image) {
    double sx = 0, sy = 0, n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (!IsWhite(image.pixel(x, y))) sx += x, sy += y, ++n;
    return n > 0 ? QPointF(sx / n, sy / n) : QPointF(-1, -1);
}

int NonWhitePixels(const QImage& image) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) count += !IsWhite(image.pixel(x, y));
    return count;
}

// Counts the events the application delivers while it lives, but for those a frame could cause
// itself (repaints, deferred deletions): a view that redraws in a loop shows as more frames than
// events.
struct EventCounter : QObject {
    int count = 0;
    EventCounter() { QCoreApplication::instance()->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override {
        switch (event->type()) {
            case QEvent::UpdateRequest:
            case QEvent::Paint:
            case QEvent::DeferredDelete:
                break;
            default:
                ++count;
        }
        return false;
    }
};

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

  private:
    QTemporaryDir dir;
    Person person;
    std::unique_ptr<TForm1> form;

    QString WriteLevel(const QString& name, const tr4test::Bytes& bytes) {
        const QString path = dir.filePath(name);
        if (!tr4test::WriteFile(path.toStdString(), bytes)) return QString();
        return path;
    }
    QString DemoPath() {
        return WriteLevel(QStringLiteral("demo.tr4"),
                          tr4test::BuildLevelFile(tr4test::DemoLevel()));
    }
    void Open(const QString& path) {
        person.paths.push_back(path);
        form->Open1->trigger();
    }
    void Select(int row) {
        QListWidgetItem* item = form->ListBox1->item(row);
        QVERIFY(item);
        QTest::mouseClick(form->ListBox1->viewport(), Qt::LeftButton, {},
                          form->ListBox1->visualItemRect(item).center());
        QVERIFY(item->isSelected());
    }
    static void RunEventLoop(int milliseconds) {
        QEventLoop loop;
        QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
        loop.exec();
    }
    void Drag(QPoint from, QPoint to, Qt::KeyboardModifiers keys,
              Qt::MouseButtons buttons = Qt::RightButton) {
        QWindow* target = form->Surface();
        QVERIFY(target);
        for (QPoint p : {from, to}) {
            QMouseEvent move(QEvent::MouseMove, p, target->mapToGlobal(p), Qt::NoButton, buttons,
                             keys);
            QCoreApplication::sendEvent(target, &move);
        }
        QMouseEvent up(QEvent::MouseButtonRelease, to, target->mapToGlobal(to), Qt::RightButton,
                       Qt::NoButton, keys);
        QCoreApplication::sendEvent(target, &up);
    }

  private slots:
    void initTestCase() {
        QVERIFY(dir.isValid());
        QCoreApplication::setApplicationName(QStringLiteral("tr4viewer"));
    }
    void init() {
        person = Person();
        form = std::make_unique<TForm1>(graphicsSystem, person.Dialogs());
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        QTRY_VERIFY(form->GraphicsStarted());  // after the window came up
        const bool wants3D = qstrcmp(QTest::currentTestFunction(), "withoutThreeD") != 0;
        if (wants3D && !form->Has3D()) QSKIP("no OpenGL 3.3 device on this display");
        if (form->Has3D()) QTRY_VERIFY(form->Surface()->isExposed());
    }
    void cleanup() { form.reset(); }

    // Each list's rows keep the layout's height whatever the font: 13 pixels in the mesh list,
    // 16 in the other three (whose bold 13-pixel font would make them taller).
    void listRowsKeepTheirHeights() {
        const std::pair<QListWidget*, int> lists[] = {
            {form->ListBox1, 13}, {form->ListBox2, 16}, {form->ListBox3, 16}, {form->ListBox4, 16}};
        for (const auto& [list, height] : lists) {
            list->addItems({QStringLiteral("Objeto:0"), QStringLiteral("Objeto:1")});
            const QRect first = list->visualItemRect(list->item(0));
            const QRect second = list->visualItemRect(list->item(1));
            QCOMPARE(first.height(), height);
            QCOMPARE(second.top() - first.top(), height);
        }
    }
    void layoutAndTexts() {
        QCOMPARE(form->windowTitle(), QStringLiteral("PROTOTIPO"));
        QCOMPARE(form->frameGeometry().size(), QSize(956, 640));
        QCOMPARE(form->font().pixelSize(), 11);
        QCOMPARE(form->Label1->text(), QStringLiteral("Spin Factor"));
        QCOMPARE(form->Label1->geometry(), QRect(408, 80, 54, 13));
        QVERIFY(form->Label1->fontMetrics().horizontalAdvance(form->Label1->text()) <= 54);
        QCOMPARE(form->Panel1->geometry(), QRect(296, 112, 321, 385));
        QCOMPARE(form->Surface()->size(), QSize(321, 385));
        QCOMPARE(form->ProgressBar1->geometry(), QRect(24, 8, 265, 25));
        QCOMPARE(form->ProgressBar2->geometry(), QRect(624, 8, 297, 25));
        QCOMPARE(form->ProgressBar1->maximum(), 100);
        QCOMPARE(form->GroupBox1->geometry(), QRect(24, 48, 249, 521));
        QCOMPARE(form->GroupBox1->title(), QStringLiteral("Source:"));
        QVERIFY(form->GroupBox1->font().bold());
        QCOMPARE(form->GroupBox1->font().pixelSize(), 13);
        QCOMPARE(form->ListBox1->parentWidget(), form->GroupBox1);
        QCOMPARE(form->ListBox1->geometry(), QRect(8, 24, 233, 225));
        QVERIFY(!form->ListBox1->font().bold());
        QCOMPARE(form->ListBox1->font().pixelSize(), 11);
        QCOMPARE(form->ListBox2->geometry(), QRect(8, 312, 233, 193));
        QVERIFY(form->ListBox2->font().bold());  // the group box's
        QCOMPARE(form->GroupBox2->geometry(), QRect(640, 48, 257, 521));
        QCOMPARE(form->GroupBox2->title(), QStringLiteral("Target:"));
        QCOMPARE(form->ListBox3->geometry(), QRect(8, 312, 241, 193));
        QCOMPARE(form->ListBox4->geometry(), QRect(8, 24, 241, 225));
        QCOMPARE(form->Edit1->geometry(), QRect(464, 80, 57, 21));
        QCOMPARE(form->Edit1->text(), QStringLiteral("0.1"));
        // The controls are made after the window is asked to map; each still shows in it.
        for (QWidget* control : std::initializer_list<QWidget*>{
                 form->Label1, form->Panel1, form->ProgressBar1, form->ProgressBar2,
                 form->GroupBox1, form->ListBox1, form->ListBox2, form->GroupBox2, form->ListBox3,
                 form->ListBox4, form->Edit1})
            QVERIFY2(control->isVisible(), qPrintable(control->metaObject()->className()));
        QCOMPARE(form->ListBox1->count(), 0);

        QCOMPARE(form->MainMenu1->actions().size(), 1);
        QCOMPARE(form->File1->title(), QStringLiteral("File"));
        const QList<QAction*> entries = form->File1->actions();
        QCOMPARE(entries.size(), 3);
        QCOMPARE(entries[0]->text(), QStringLiteral("Open Source"));
        QVERIFY(entries[1]->isSeparator());
        QCOMPARE(entries[2]->text(), QStringLiteral("Exit"));
        for (QAction* entry : entries) QVERIFY(entry->shortcut().isEmpty());

        // Tab order: the panel, the lists of both columns, then the spin factor.
        QWidget* chain[] = {form->Panel1,   form->ProgressBar1, form->ProgressBar2, form->ListBox1,
                            form->ListBox2, form->ListBox3,     form->ListBox4,     form->Edit1};
        const std::set<QWidget*> listed(std::begin(chain), std::end(chain));
        for (size_t i = 0; i + 1 < std::size(chain); ++i) {
            QWidget* next = chain[i]->nextInFocusChain();
            while (!listed.count(next))
                next = next->nextInFocusChain();  // group boxes, inner parts
            QCOMPARE(next, chain[i + 1]);
        }

        // Right after start-up the frames are white.
        const QImage frame = form->GrabPanelFrame();
        QCOMPARE(frame.size(), QSize(321, 385));
        QCOMPARE(NonWhitePixels(frame), 0);
    }

    void loadListsMeshesAndAsksOnceAboutTheDepth() {
        const QString path = DemoPath();
        const int meshes = int(tr4test::DemoLevel().meshes.size());
        int listedWhenAsked = -1;
        bool pagesMadeWhenAsked = true;
        person.duringMessageBox = [&] {
            listedWhenAsked = form->ListBox1->count();
            // The new pages are made beside the shown ones and replace them at the end.
            pagesMadeWhenAsked = form->TexturePages() != nullptr;
        };
        Open(path);
        QCOMPARE(person.dialogTitles,
                 QStringList{QStringLiteral("Abrir Archivo de Tomb Raider 4")});
        QCOMPARE(person.dialogFilters, QStringList{QStringLiteral("Tomb Raider 4|*.tr4")});
        QCOMPARE(person.boxTexts.size(), 1);
        QVERIFY(person.boxTexts[0] == QStringLiteral("Se renderiza con 32 bits") ||
                person.boxTexts[0] == QStringLiteral("Se renderiza con 16 bits"));
        QCOMPARE(person.boxCaptions[0], QString());
        QCOMPARE(listedWhenAsked, meshes);  // the list is filled before the question...
        QVERIFY(!pagesMadeWhenAsked);       // ...and the pages made after it
        QVERIFY(person.errors.isEmpty());

        QCOMPARE(form->GroupBox1->title(), QStringLiteral("Meshes: %1").arg(meshes));
        QCOMPARE(form->ListBox1->count(), meshes);
        for (int i = 0; i < meshes; ++i) {
            QCOMPARE(form->ListBox1->item(i)->text(), QStringLiteral("Objeto:%1").arg(i));
            // The sample's objects point at no mesh.
            QCOMPARE(form->ListBox1->item(i)->toolTip(), QStringLiteral("not used by any object"));
        }
        QCOMPARE(form->TexturePages()->PageCount(), 2);
        QVERIFY(form->TexturePages()->GetPage32(0) || form->TexturePages()->GetPage16(0));
        for (int i = 0; i < meshes; ++i) QVERIFY(form->Scene()->RenderMesh(i));
        QCOMPARE(form->View().selected, -1);

        // A second load of the same file: nothing selected, white frames, one more question;
        // white already while the question waits, when the new list shows.
        Select(1);
        form->FormPaint();
        QVERIFY(NonWhitePixels(form->GrabPanelFrame()) > 0);
        int drawnWhileAsked = -1;
        person.duringMessageBox = [&] {
            form->FormPaint();
            drawnWhileAsked = NonWhitePixels(form->GrabPanelFrame());
        };
        Open(path);
        person.duringMessageBox = nullptr;
        QCOMPARE(drawnWhileAsked, 0);
        QCOMPARE(person.boxTexts.size(), 2);
        QCOMPARE(form->View().selected, -1);
        QVERIFY(!form->SelectedRecord());
        QCOMPARE(form->ListBox1->selectedItems().size(), 0);
        form->FormPaint();
        QCOMPARE(NonWhitePixels(form->GrabPanelFrame()), 0);

        // Cancelling changes nothing.
        Select(2);
        const ViewState before = form->View();
        form->Open1->trigger();
        QCOMPARE(person.dialogTitles.size(), 3);
        QCOMPARE(person.boxTexts.size(), 2);
        QCOMPARE(form->ListBox1->count(), meshes);
        QCOMPARE(form->ListBox1->currentRow(), 2);
        QCOMPARE(form->View().selected, before.selected);
    }

    void realLevelLists191Meshes() {
        Open(QStringLiteral(TR4_REAL_LEVEL));
        QVERIFY2(person.errors.isEmpty(), qPrintable(person.errors.join('\n')));
        QCOMPARE(form->GroupBox1->title(), QStringLiteral("Meshes: 191"));
        QCOMPARE(form->ListBox1->count(), 191);
        QCOMPARE(form->ListBox1->item(190)->text(), QStringLiteral("Objeto:190"));
        // Owners, as tr4tool meshes lists them (and as checked there against the file).
        QCOMPARE(form->ListBox1->item(2)->toolTip(), QStringLiteral("moveable 8, part 0"));
        QCOMPARE(form->ListBox1->item(32)->toolTip(), QStringLiteral("moveable 13, part 4"));
        QCOMPARE(form->ListBox1->item(190)->toolTip(), QStringLiteral("static 39"));
        // Mesh 0 serves 279 parts: a few ranges and a count, not 279 lines' worth.
        QVERIFY2(form->ListBox1->item(0)->toolTip().startsWith(
                     QStringLiteral("moveable 0 parts 0%1").arg(QChar(0x2013))),
                 qPrintable(form->ListBox1->item(0)->toolTip()));
        QVERIFY(form->ListBox1->item(0)->toolTip().contains(QStringLiteral(" more")));
        QVERIFY(form->ListBox1->item(0)->toolTip().size() <= int(tr4::BriefOwnersBytes()));
        Select(5);
        form->FormPaint();
        QVERIFY(NonWhitePixels(form->GrabPanelFrame()) > 0);
    }

    void levelsWithoutMeshesOrCutShort() {
        tr4test::LevelPlan empty = tr4test::DemoLevel();
        empty.meshes.clear();
        Open(WriteLevel(QStringLiteral("empty.tr4"), tr4test::BuildLevelFile(empty)));
        QVERIFY(person.errors.isEmpty());
        QCOMPARE(form->GroupBox1->title(), QStringLiteral("Meshes: 0"));
        QCOMPARE(form->ListBox1->count(), 0);
        QVERIFY(!form->MeshList());
        form->FormPaint();
        QCOMPARE(NonWhitePixels(form->GrabPanelFrame()), 0);

        // Level data that ends after the meshes: the meshes load, the warning is no error.
        const tr4test::LevelPlan demo = tr4test::DemoLevel();
        const tr4test::Bytes file = tr4test::BuildLevelFile(demo);
        const tr4test::FileLayout layout = tr4test::LayoutOf(demo);
        tr4test::Bytes levelData = tr4test::BuildLevelData(demo);
        levelData.resize(levelData.size() - 64);
        tr4test::Bytes cut(file.begin(), file.begin() + long(layout.chunkStart[3]));
        const tr4test::Bytes chunk = tr4test::BuildChunk(levelData);
        cut.insert(cut.end(), chunk.begin(), chunk.end());
        cut.insert(cut.end(), file.begin() + long(layout.sampleCountAt), file.end());
        tr4::Level check;
        tr4::LoadReport report;
        QCOMPARE(tr4::LoadLevelFromMemory(cut.data(), cut.size(), check, &report), 1);
        QVERIFY(report.Readable());
        QVERIFY(!report.parseComplete);

        Open(WriteLevel(QStringLiteral("cut.tr4"), cut));
        QVERIFY(person.errors.isEmpty());
        QCOMPARE(form->ListBox1->count(), int(demo.meshes.size()));
        // Read only in part, and it says so where the meshes are counted.
        QCOMPARE(form->GroupBox1->title(), QStringLiteral("Meshes: 4"));
        QVERIFY(form->GroupBox1->toolTip().contains(QString::fromStdString(report.warnings[0])));

        Open(DemoPath());
        QCOMPARE(form->GroupBox1->toolTip(), QString());
    }

    // The real level on show, then files that hurt a reader: each is refused with one line, the
    // level keeps drawing as it was, and opening them costs no more than their budgets.
    void hostileFilesLeaveTheLevelDrawing() {
        std::vector<tr4test::HostileLevel> corpus = tr4test::HostileCorpus();
        QStringList paths;
        uint64_t budgets = 0;
        for (const tr4test::HostileLevel& c : corpus) {
            // The viewer lists owners as meshes does: what that refuses, it refuses.
            if (c.opens && c.refusedBy != "meshes") continue;
            paths << WriteLevel(QStringLiteral("hostile%1.tr4").arg(paths.size()), c.file);
            budgets = std::max(budgets, tr4::MemoryBudget::ForFile(c.file.size()).Limit());
        }
        corpus.clear();
        const QString fifo = dir.filePath(QStringLiteral("pipe.tr4"));
        QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        paths.prepend(fifo);

        Open(QStringLiteral(TR4_REAL_LEVEL));
        Select(5);
        form->FormPaint();
        const QImage shown = form->GrabPanelFrame();
        QVERIFY(NonWhitePixels(shown) > 0);
        const tr4::MeshRecord* record = form->SelectedRecord();

        const long before = PeakResidentKiB();
        for (const QString& path : paths) {
            person.errors.clear();
            Open(path);
            QCOMPARE(person.errors.size(), 1);
            QVERIFY2(person.errors[0].startsWith(QStringLiteral("Cannot open ") + path + ": "),
                     qPrintable(person.errors[0]));
            QVERIFY(!person.errors[0].contains(QLatin1Char('\n')));
            QCOMPARE(form->ListBox1->count(), 191);
            QCOMPARE(form->SelectedRecord(), record);
            form->FormPaint();
            QCOMPARE(form->GrabPanelFrame(), shown);
        }
        const long grown = PeakResidentKiB() - before;
        QVERIFY2(grown <= long(budgets >> 10), qPrintable(QString::number(grown)));
        // A pipe is named as such, not as an unknown failure.
        Open(fifo);
        QCOMPARE(
            person.errors.last(),
            QStringLiteral("Cannot open %1: it is a pipe (FIFO), not a regular file").arg(fifo));
    }

    // Out of memory at the start of a load and after its level was read: the error is shown and
    // the previous level keeps drawing.
    void outOfMemoryKeepsThePreviousLevelDrawing() {
        Open(QStringLiteral(TR4_REAL_LEVEL));
        Select(5);
        form->FormPaint();
        const QImage shown = form->GrabPanelFrame();
        const tr4::MeshRecord* record = form->SelectedRecord();

        // How many allocations of 8 KiB or more the load itself makes on this thread: the next
        // is one of the open's own (the owner table, the builder's tables of meshes), after the
        // level was read.
        constexpr size_t kLarge = 16 * 1024;
        constexpr size_t kAfterLoad = 8 * 1024;
        tr4::LoadedLevel probe;
        Arm(kAfterLoad, -1);
        QVERIFY(tr4::LoadLevel(TR4_REAL_LEVEL, probe));
        gArmed = false;
        const long ofLoad = gCounted;
        probe = tr4::LoadedLevel();
        QVERIFY(ofLoad > 0);

        struct Failure {
            size_t from;
            long skip;
            bool otherThreads;
        };
        for (const Failure f : {Failure{kLarge, 0, false}, Failure{kAfterLoad, ofLoad, false}}) {
            person.errors.clear();
            Arm(f.from, f.skip, f.otherThreads);
            Open(QStringLiteral(TR4_REAL_LEVEL));
            const bool failed = !gArmed;
            gArmed = false;
            QVERIFY2(failed, qPrintable(QStringLiteral("no allocation of %1 bytes or more was made "
                                                       "to fail after %2")
                                            .arg(f.from)
                                            .arg(f.skip)));
            QCOMPARE(person.errors.size(), 1);
            QVERIFY2(person.errors[0].endsWith(QStringLiteral(": out of memory")),
                     qPrintable(person.errors[0]));
            QCOMPARE(form->GroupBox1->title(), QStringLiteral("Meshes: 191"));
            QCOMPARE(form->ListBox1->count(), 191);
            QCOMPARE(form->ListBox1->currentRow(), 5);
            QVERIFY(form->ListBox1->item(5)->isSelected());
            QCOMPARE(form->SelectedRecord(), record);
            form->FormPaint();
            QCOMPARE(form->GrabPanelFrame(), shown);
        }
        // And a drag still turns it.
        Drag({10, 10}, {60, 10}, Qt::NoModifier);
        form->FormPaint();
        QVERIFY(form->GrabPanelFrame() != shown);
        QVERIFY(NonWhitePixels(form->GrabPanelFrame()) > 0);
    }

    void failedOpenLeavesEverythingAsItWas() {
        Open(DemoPath());
        Select(2);
        Drag({10, 10}, {30, 15}, Qt::NoModifier);
        form->FormPaint();
        const QImage shown = form->GrabPanelFrame();
        const ViewState view = form->View();
        const D3DXVECTOR3 eye = form->FrameCamera().eye;
        const tr4::MeshRecord* record = form->SelectedRecord();

        const QString garbage =
            WriteLevel(QStringLiteral("garbage.tr4"), tr4test::Bytes(300, 0x5A));
        for (const QString& path : {dir.filePath(QStringLiteral("missing.tr4")), garbage}) {
            person.errors.clear();
            Open(path);
            QCOMPARE(person.errors.size(), 1);
            QVERIFY(person.errors[0].contains(path));
            QCOMPARE(person.boxTexts.size(), 1);  // no new question: nothing was loaded
            QCOMPARE(form->GroupBox1->title(), QStringLiteral("Meshes: 4"));
            QCOMPARE(form->ListBox1->count(), 4);
            QCOMPARE(form->ListBox1->currentRow(), 2);
            QCOMPARE(form->SelectedRecord(), record);
            QCOMPARE(form->View().selected, view.selected);
            QCOMPARE(form->View().rotationY, view.rotationY);
            QCOMPARE(form->FrameCamera().eye.z, eye.z);
            form->FormPaint();
            QCOMPARE(form->GrabPanelFrame(), shown);
        }
    }

    void selectionAimsTheViewAndResetsAfterItsFirstFrame() {
        Open(DemoPath());
        Select(0);
        form->FormPaint();
        const QImage cubeStill = form->GrabPanelFrame();
        QVERIFY(NonWhitePixels(cubeStill) > 2000);

        // The drag turns the view, and the frame shows it.
        Drag({100, 100}, {110, 104}, Qt::NoModifier);
        QCOMPARE(form->View().rotationY, -1.0f);
        QCOMPARE(form->View().rotationX, -0.4f);
        form->FormPaint();
        QVERIFY(form->GrabPanelFrame() != cubeStill);

        // Mesh 2 is centred at (300, -50, 200): eye (300, 50, 350), target (300, 50, 200).
        const int before = form->LastFrame().count;
        Select(2);
        QCOMPARE(form->LastFrame().count, before + 1);
        QVERIFY(form->LastFrame().meshDrawn);
        QCOMPARE(form->LastFrame().applied.rotationY, -1.0f);  // the previous mesh's view
        QCOMPARE(form->LastFrame().applied.rotationX, -0.4f);
        const D3DXVECTOR3 eye = form->FrameCamera().eye;
        const D3DXVECTOR3 target = form->FrameCamera().target;
        QCOMPARE(eye.x, 300.0f);
        QCOMPARE(eye.y, 50.0f);
        QCOMPARE(eye.z, 350.0f);
        QCOMPARE(target.x, 300.0f);
        QCOMPARE(target.y, 50.0f);
        QCOMPARE(target.z, 200.0f);
        QCOMPARE(form->SelectedRecord()->centreX, int16_t(300));

        form->FormPaint();
        QCOMPARE(form->LastFrame().applied.rotationY, 0.0f);
        // The wall reaches 85 units from its centre: at zoom 6 it would not fit the panel's
        // width, so it starts further away, and the zoom channel starts from there.
        const float fitted = form->LastFrame().applied.zoom;
        QVERIFY2(fitted > 4.5f && fitted < 5.5f, qPrintable(QString::number(fitted)));
        QCOMPARE(form->Camera()->zoom, fitted);
        QCOMPARE(form->Camera()->angleY, 0.0f);
        QVERIFY(!form->Camera()->rotateYActive);

        // A click that leaves no item selected changes nothing.
        Drag({0, 0}, {3, 0}, Qt::NoModifier);
        const ViewState turned = form->View();
        form->ListBox1->clearSelection();
        QCOMPARE(form->View().selected, turned.selected);
        QCOMPARE(form->View().rotationY, turned.rotationY);
        QCOMPARE(form->Camera()->angleY, turned.rotationY);
        QCOMPARE(form->SelectedRecord()->centreX, int16_t(300));
    }

    void rightDragsFeedTheViewByMode() {
        Open(DemoPath());
        Select(0);
        form->Edit1->setText(QStringLiteral("0.5"));
        QTest::keyClick(form->Edit1, Qt::Key_Return);
        QCOMPARE(form->Camera()->spinFactor, 0.5f);

        Drag({50, 50}, {53, 48}, Qt::ShiftModifier);
        QCOMPARE(form->View().panX, -15.0f);
        QCOMPARE(form->View().panY, 10.0f);
        QCOMPARE(form->View().rotationY, 0.0f);

        Drag({50, 50}, {50, 62}, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(form->View().zoom, 0.0f);
        QCOMPARE(form->View().panX, -15.0f);
        Drag({50, 62}, {50, 64}, Qt::ControlModifier);
        QCOMPARE(form->View().zoom, 0.001f);

        Drag({0, 0}, {40, 40}, Qt::NoModifier, Qt::LeftButton);  // left alone: nothing
        QCOMPARE(form->View().rotationY, 0.0f);
        Drag({0, 0}, {4, 0}, Qt::AltModifier, Qt::LeftButton | Qt::RightButton);
        QCOMPARE(form->View().rotationY, -2.0f);

        form->FormPaint();
        QCOMPARE(form->LastFrame().applied.panX, -15.0f);
    }

    void theMeshFollowsThePointer() {
        Open(DemoPath());
        Select(0);
        form->FormPaint();
        const int filled = NonWhitePixels(form->GrabPanelFrame());
        Drag({100, 100}, {100, 150}, Qt::ControlModifier);  // down: 6.0 - 5.0
        QCOMPARE(form->View().zoom, 1.0f);
        form->FormPaint();
        const QImage small = form->GrabPanelFrame();
        QVERIFY(NonWhitePixels(small) < filled / 4);
        QVERIFY(IsWhite(small.pixel(0, 0)));  // drawn on white...
        std::set<QRgb> colours;
        for (int y = 0; y < small.height(); ++y)
            for (int x = 0; x < small.width(); ++x)
                if (!IsWhite(small.pixel(x, y))) colours.insert(small.pixel(x, y));
        QVERIFY(colours.size() > 8);  // ...and textured, not one flat colour
        const QPointF start = Centroid(small);

        Drag({100, 100}, {130, 100}, Qt::ShiftModifier);
        form->FormPaint();
        const QPointF right = Centroid(form->GrabPanelFrame());
        QVERIFY2(right.x() > start.x() + 10, "a pan to the right moves the mesh right");
        QVERIFY(std::abs(right.y() - start.y()) < 2);

        Drag({100, 100}, {100, 130}, Qt::ShiftModifier);
        form->FormPaint();
        const QPointF down = Centroid(form->GrabPanelFrame());
        QVERIFY2(down.y() > right.y() + 10, "a pan downwards moves the mesh down");
    }

    void lostDeviceRecoversWithTheFarPlaneTripled() {
        const float aspect = 321.0f / 385.0f;  // the panel's own
        QCOMPARE(form->PanelAspect(), aspect);
        QVERIFY(ProjectionHasFarPlane(form->FrameCamera().projection, aspect, 1000.0f));
        Open(DemoPath());
        Select(2);
        form->FormPaint();
        const QImage before = form->GrabPanelFrame();

        form->Device()->LoseContext();
        form->FormPaint();  // the present fails, the device is reset
        QVERIFY(!form->Device()->IsLost());
        QVERIFY(ProjectionHasFarPlane(form->FrameCamera().projection, aspect, 3000.0f));
        QCOMPARE(form->Device()->GetClearColorWord(), 0xFFFFFFFFu);
        QCOMPARE(form->FrameCamera().eye.z, 350.0f);
        QCOMPARE(form->FrameCamera().target.z, 200.0f);
        form->FormPaint();
        // The textures and buffers came back with the device; a far plane further away only
        // moves depth values, not colours.
        QCOMPARE(form->GrabPanelFrame(), before);

        // The panel keeps its size whatever the window's: so does the aspect.
        const QSize frame = form->frameGeometry().size() - form->size();
        form->resize(QSize(1300, 640) - frame);
        QTRY_COMPARE(form->frameGeometry().size(), QSize(1300, 640));
        form->Device()->LoseContext();
        form->FormPaint();
        QVERIFY(ProjectionHasFarPlane(form->FrameCamera().projection, aspect, 3000.0f));
    }

    void spinFactorIsCheckedWhenTheEditIsFinished() {
        Open(DemoPath());
        Select(0);
        form->activateWindow();
        form->Edit1->setFocus();
        QTRY_VERIFY(form->Edit1->hasFocus());
        form->Edit1->selectAll();
        // "0,01" typed key by key: "0," is no number, but nothing interrupts the typing.
        QTest::keyClicks(form->Edit1, QStringLiteral("0,01"));
        QCOMPARE(form->Edit1->text(), QStringLiteral("0,01"));
        form->FormPaint();
        QVERIFY(person.errors.isEmpty());
        QCOMPARE(form->Camera()->spinFactor, 0.1f);

        // Return finishes the edit: said once, exactly; the last good factor stays and the view
        // keeps drawing.
        QTest::keyClick(form->Edit1, Qt::Key_Return);
        QCOMPARE(person.errors,
                 QStringList{QStringLiteral("'0,01' is not a valid floating point value")});
        QCOMPARE(form->Camera()->spinFactor, 0.1f);
        form->FormPaint();
        QVERIFY(NonWhitePixels(form->GrabPanelFrame()) > 0);
        // Leaving the box without changing the text says nothing more; Return again does.
        form->ListBox1->setFocus();
        QTRY_VERIFY(!form->Edit1->hasFocus());
        QCOMPARE(person.errors.size(), 1);
        form->Edit1->setFocus();
        QTRY_VERIFY(form->Edit1->hasFocus());
        QTest::keyClick(form->Edit1, Qt::Key_Return);
        QCOMPARE(person.errors.size(), 2);

        // Mended: the new factor counts from the finished edit, here the box losing focus.
        form->Edit1->selectAll();
        QTest::keyClicks(form->Edit1, QStringLiteral("0.25"));
        QCOMPARE(form->Camera()->spinFactor, 0.1f);
        form->ListBox1->setFocus();
        QTRY_COMPARE(form->Camera()->spinFactor, 0.25f);
        QCOMPARE(person.errors.size(), 2);

        // An empty box is no number either.
        form->Edit1->setFocus();
        QTRY_VERIFY(form->Edit1->hasFocus());
        form->Edit1->clear();
        QTest::keyClick(form->Edit1, Qt::Key_Return);
        QCOMPARE(person.errors.size(), 3);
        QCOMPARE(person.errors[2], QStringLiteral("'' is not a valid floating point value"));
        QCOMPARE(form->Camera()->spinFactor, 0.25f);
    }

    void loadRefusesInputUntilDone() {
        const QString path = DemoPath();
        Open(path);
        person.duringMessageBox = [&] {
            // The box is modal; a handler reached anyway must not touch the half-built level.
            form->ListBox1->setCurrentRow(1);
            form->ListBox1Click();
            person.paths.push_back(path);
            form->Open1Click();
        };
        Open(path);
        QCOMPARE(person.dialogTitles.size(), 2);
        QCOMPARE(form->View().selected, -1);
        QCOMPARE(person.paths.size(), size_t(1));
    }

    void idleDrawsOneFrameAfterEachBurstOnly() {
        // Idle notifications come only from a loop that waits, as the application's does.
        RunEventLoop(150);
        // Nothing happens but the timer that ends the wait (and whatever the display sends
        // meanwhile): no more frames than events, not a frame after every frame.
        EventCounter events;
        const int settled = form->LastFrame().count;
        RunEventLoop(300);
        QVERIFY2(form->LastFrame().count - settled <= events.count,
                 qPrintable(QStringLiteral("%1 frames for %2 events")
                                .arg(form->LastFrame().count - settled)
                                .arg(events.count)));
        // A key stroke in the spin factor box: a frame follows it.
        form->activateWindow();
        form->Edit1->setFocus();
        QTRY_VERIFY(form->Edit1->hasFocus());
        RunEventLoop(50);
        const int beforeKeys = form->LastFrame().count;
        QTest::keyClicks(form->Edit1, QStringLiteral("5"));
        RunEventLoop(50);
        QVERIFY(form->LastFrame().count > beforeKeys);
        // With the box focused its cursor blinks (a timer, about twice a second): no frames.
        const int focused = form->LastFrame().count;
        RunEventLoop(1300);
        QCOMPARE(form->LastFrame().count, focused);
        QVERIFY(form->Edit1->hasFocus());
    }

    void levelsOpenFromTheCommandLineAndByDrop() {
        // As main does with "tr4viewer FILE": once the loop runs, through the same flow as the
        // menu (the question about the depth, no dialog).
        const QString demo = DemoPath();
        form->OpenLevelFileLater(demo);
        QCOMPARE(form->ListBox1->count(), 0);
        QTRY_COMPARE(form->ListBox1->count(), 4);
        QCOMPARE(person.boxTexts.size(), 1);
        QVERIFY(person.dialogTitles.isEmpty());

        // A file that is no level: the error is shown and the level stays.
        const QString garbage =
            WriteLevel(QStringLiteral("garbage.tr4"), tr4test::Bytes(300, 0x5A));
        form->OpenLevelFileLater(garbage);
        QTRY_COMPARE(person.errors.size(), 1);
        QVERIFY(person.errors[0].contains(garbage));
        QCOMPARE(form->ListBox1->count(), 4);

        // Dropped onto the window, and onto the view: only .tr4 files are taken, in any case.
        auto drop = [](QObject* target, QPointF at, const QString& path) {
            QMimeData data;
            data.setUrls({QUrl::fromLocalFile(path)});
            QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, {});
            QCoreApplication::sendEvent(target, &enter);
            const bool taken = enter.isAccepted();
            QDropEvent dropped(at, Qt::CopyAction, &data, Qt::LeftButton, {});
            QCoreApplication::sendEvent(target, &dropped);
            return taken;
        };
        const QString text = WriteLevel(QStringLiteral("notes.txt"), tr4test::Bytes(10, 'a'));
        QVERIFY(!drop(form.get(), {40, 300}, text));
        tr4test::LevelPlan two = tr4test::DemoLevel();
        two.meshes.resize(2);
        const QString upper = WriteLevel(QStringLiteral("TWO.TR4"), tr4test::BuildLevelFile(two));
        QVERIFY(drop(form.get(), {40, 300}, upper));
        QTRY_COMPARE(form->ListBox1->count(), 2);
        QCOMPARE(person.boxTexts.size(), 2);
        QVERIFY(drop(form->Surface(), {100, 100}, demo));
        QTRY_COMPARE(form->ListBox1->count(), 4);
        QCOMPARE(person.errors.size(), 1);
    }

    // The start-up report a launcher asks for with TR4_REPORT_FRAME_FD: one byte, after the first
    // frame presented with the mesh list filled, then the descriptor closed. What names no
    // descriptor the launcher gave is never written to, and a launcher gone does not end us.
    void reportsTheFirstFrameWithTheListFilledOnce() {
        int report[2];
        QVERIFY(pipe2(report, O_CLOEXEC | O_NONBLOCK) == 0);
        char byte = 0;
        const auto take = [](const QByteArray& text) {
            qputenv("TR4_REPORT_FRAME_FD", text);
            TakeFrameReportDescriptor();
            return qgetenv("TR4_REPORT_FRAME_FD").isEmpty();  // no program started gets it
        };
        QVERIFY(take(QByteArray::number(report[1])));

        // Frames of the empty window, and the filled list before a frame shows it: nothing.
        const int framesBefore = form->LastFrame().count;
        form->repaint();
        QVERIFY(form->LastFrame().count > framesBefore);
        // The page store, left out of the device, is made once the window's first frame is up.
        QCOMPARE(form->Device()->PageStoreLayers(), 64);
        int listedWhenAsked = -1;
        bool emptyWhenAsked = false;
        person.duringMessageBox = [&] {
            listedWhenAsked = form->ListBox1->count();
            emptyWhenAsked = read(report[0], &byte, 1) == -1 && errno == EAGAIN;
        };
        Open(DemoPath());
        person.duringMessageBox = nullptr;
        QCOMPARE(listedWhenAsked, 4);
        QVERIFY(emptyWhenAsked);
        form->repaint();
        QCOMPARE(read(report[0], &byte, 1), ssize_t(1));
        // Frames after it add nothing, and the write end is closed: the pipe is at its end.
        Select(1);
        form->repaint();
        QCOMPARE(read(report[0], &byte, 1), ssize_t(0));
        close(report[0]);

        // Not a descriptor's number, or one that was closed when the report was taken and is
        // open again by the time of the frame (as the display connection could be): nothing.
        int other[2];
        QVERIFY(pipe2(other, O_CLOEXEC | O_NONBLOCK) == 0);
        for (const QByteArray& text : {QByteArray::number(other[1]) + "x",
                                       " " + QByteArray::number(other[1]), QByteArray("-1")}) {
            QVERIFY(take(text));
            form->repaint();
        }
        const int reused = fcntl(other[1], F_DUPFD_CLOEXEC, 100);
        QVERIFY(reused >= 100);
        close(reused);
        QVERIFY(take(QByteArray::number(reused)));
        QCOMPARE(fcntl(other[1], F_DUPFD_CLOEXEC, reused), reused);
        form->repaint();
        QCOMPARE(read(other[0], &byte, 1), ssize_t(-1));
        close(reused);

        // The reader gone: the write fails and the window goes on drawing.
        close(other[0]);
        QVERIFY(take(QByteArray::number(other[1])));
        const int framesThen = form->LastFrame().count;
        form->repaint();
        QVERIFY(form->LastFrame().count > framesThen);
        QCOMPARE(fcntl(other[1], F_GETFD), -1);  // closed all the same
    }

    void thePanelShowsWhatTr4toolRenderDraws() {
#ifndef TR4TOOL
        QSKIP("tr4tool render is not built");
#else
        const QString demo = DemoPath();
        Open(demo);
        for (int mesh : {0, 2}) {
            Select(mesh);
            form->FormPaint();  // the first frame after the selection settles the view
            const QImage panel = form->GrabPanelFrame().convertToFormat(QImage::Format_RGB32);
            const QString picture = dir.filePath(QStringLiteral("mesh%1.png").arg(mesh));
            QProcess tool;
            tool.start(QStringLiteral(TR4TOOL),
                       {QStringLiteral("render"), demo, QString::number(mesh), QStringLiteral("-o"),
                        picture});
            QVERIFY(tool.waitForFinished(60000));
            QCOMPARE(tool.exitCode(), 0);
            const QImage drawn = QImage(picture).convertToFormat(QImage::Format_RGB32);
            QCOMPARE(drawn.size(), panel.size());
            QVERIFY(NonWhitePixels(panel) > 1000);
            QVERIFY(drawn == panel);
        }
#endif
    }

    // A window never shown makes its controls for an open, and shows them with itself later.
    void openIntoAWindowNeverShown() {
        form = std::make_unique<TForm1>(graphicsSystem, person.Dialogs());
        QVERIFY(form->ListBox1 == nullptr);
        QVERIFY(form->OpenLevelFile(DemoPath()));
        QVERIFY(form->ListBox1 != nullptr);
        // No frame came before the pages: they made the page store the device left for later.
        QCOMPARE(form->LastFrame().count, 0);
        if (form->Has3D()) QCOMPARE(form->Device()->PageStoreLayers(), 64);
        const int meshes = form->ListBox1->count();
        QVERIFY(meshes > 0);
        QCOMPARE(form->GroupBox1->title(), QStringLiteral("Meshes: %1").arg(meshes));
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        QVERIFY(form->ListBox1->isVisible());
        QCOMPARE(form->ListBox1->count(), meshes);
    }

    // Drawing programs the driver refuses are found after the first frame: the view then says
    // 3-D display is unavailable and why, once, and the level stays listed.
    void refusedProgramsLeaveTheWindowWithout3D() {
        form = std::make_unique<TForm1>(graphicsSystem, person.Dialogs());
        QVERIFY(form->OpenLevelFile(DemoPath()));  // before the first frame
        QVERIFY(form->Has3D());
        form->Device()->FailPrograms();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        QTRY_COMPARE(person.errors.size(), 1);
        QVERIFY(!form->Has3D());
        QVERIFY2(person.errors[0].startsWith(QStringLiteral("3-D display is unavailable")) &&
                     person.errors[0].contains(QStringLiteral("a shader does not compile")),
                 qPrintable(person.errors[0]));
        QVERIFY(form->GrabPanelFrame().isNull());
        QCOMPARE(form->ListBox1->count(), 4);
        Select(1);
        QTest::qWait(50);
        QCOMPARE(person.errors.size(), 1);
        // Later levels are listed without pages: no depth to ask about.
        const int asked = person.boxTexts.size();
        Open(DemoPath());
        QCOMPARE(form->ListBox1->count(), 4);
        QCOMPARE(person.boxTexts.size(), asked);
    }

    void realDialogsAnsweredAsAPersonWould() {
        // The window's own file dialog and message box, not the test's answers.
        TForm1Dialogs onlyErrors;
        onlyErrors.showError = [this](const QString& message) { person.errors << message; };
        form = std::make_unique<TForm1>(graphicsSystem, onlyErrors);
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        const QString path = DemoPath();

        QStringList seen;
        int ticks = 0;
        QTimer answer;
        answer.setInterval(10);
        connect(&answer, &QTimer::timeout, this, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal) return;
            if (++ticks > 500) {  // answering failed: close it rather than hang
                modal->close();
                return;
            }
            if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
                seen << dialog->windowTitle() << dialog->nameFilters().join(';');
                QVERIFY(dialog->testOption(QFileDialog::ReadOnly));  // never changes files
                // Typed into the file name box and accepted, as a person does.
                auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
                QVERIFY(name);
                name->setText(path);
                static_cast<QDialog*>(dialog)->accept();  // as the Open button does
            } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                seen << box->text() << box->windowTitle();
                // Modal to the whole application: the main window takes no input meanwhile.
                QCOMPARE(box->windowModality(), Qt::ApplicationModal);
                QCOMPARE(box->buttons().size(), 1);
                box->button(QMessageBox::Ok)->click();
            }
        });
        answer.start();
        form->Open1->trigger();
        answer.stop();
        QCOMPARE(seen.size(), 4);
        QCOMPARE(seen[0], QStringLiteral("Abrir Archivo de Tomb Raider 4"));
        QCOMPARE(seen[1], QStringLiteral("Tomb Raider 4 (*.tr4)"));
        QVERIFY(seen[2].startsWith(QStringLiteral("Se renderiza con ")));
        // The box's caption is empty to the eye: Qt would show the application's name for an
        // empty one.
        QVERIFY(!seen[3].isEmpty());
        QCOMPARE(seen[3].trimmed(), QString());
        QCOMPARE(form->ListBox1->count(), 4);
        QVERIFY(person.errors.isEmpty());
    }

    // Run by ctest with an OpenGL too old for the device (MESA_GL_VERSION_OVERRIDE=3.0).
    void withoutThreeD() {
        if (form->Has3D()) QSKIP("a device was created; run with MESA_GL_VERSION_OVERRIDE=3.0");
        QVERIFY(!form->Surface());
        QTRY_COMPARE(person.errors.size(), 1);
        QVERIFY(person.errors[0].startsWith(QStringLiteral("3-D display is unavailable")));
        // And why, as the graphics system found it.
        QVERIFY2(person.errors[0].contains(QStringLiteral("OpenGL")) &&
                     person.errors[0].endsWith(QLatin1Char(')')),
                 qPrintable(person.errors[0]));
        QVERIFY(form->GrabPanelFrame().isNull());

        // The rest of the window works: levels load and list, the mouse feeds the camera.
        Open(DemoPath());
        QCOMPARE(form->GroupBox1->title(), QStringLiteral("Meshes: 4"));
        QVERIFY(person.boxTexts.isEmpty());  // no pages to make
        Select(1);
        tr4::MeshRecord* second = nullptr;
        QCOMPARE(form->MeshList()->GetRecord(1, second), 1);
        QCOMPARE(form->SelectedRecord(), second);
        QVERIFY(!form->Scene()->RenderMesh(1));  // nothing is made for a device there is not
        QMouseEvent move(QEvent::MouseMove, QPointF(10, 10),
                         form->Panel1->mapToGlobal(QPointF(10, 10)), Qt::NoButton, Qt::RightButton,
                         Qt::NoModifier);
        QCoreApplication::sendEvent(form->Panel1, &move);
        QMouseEvent further(QEvent::MouseMove, QPointF(20, 10),
                            form->Panel1->mapToGlobal(QPointF(20, 10)), Qt::NoButton,
                            Qt::RightButton, Qt::NoModifier);
        QCoreApplication::sendEvent(form->Panel1, &further);
        QCOMPARE(form->View().rotationY, -1.0f);
        form->FormPaint();
        QCOMPARE(person.errors.size(), 1);  // said once only
        form->Exit1->trigger();
        QVERIFY(!form->isVisible());
    }

    void exitReleasesAndClosesTheWindow() {
        Open(DemoPath());
        Select(1);
        form->Exit1->trigger();
        QVERIFY(!form->isVisible());
        QVERIFY(!form->Device());
        QVERIFY(!form->Camera());
        QVERIFY(!form->MeshList());
        QCOMPARE(form->View().selected, -1);
        // Nothing that runs later touches what was released.
        form->FormPaint();
        form->Panel1MouseMove(ShiftState{false, false, false, false, true, false}, 5, 5);
        form->Panel1MouseUp();
        form->ListBox1Click();
        form->MyIdleHandler();
        form->ReleaseAll();
        QVERIFY(form->close());
    }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
