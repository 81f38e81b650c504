// The live graph's window on a real desktop: where the window manager puts it.
#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

#include "Desktop.h"
#include "LiveGraph.h"

namespace {

using namespace desktop;

using GraphRows = DesktopTest;

// Ctrl+G on the main window; the graph once the window manager has framed and activated it.
LiveGraph* OpenGraphByKey(TForm1* form) {
    Key("ctrl+g");
    LiveGraph* graph = nullptr;
    const bool framed = WaitUntil([&] {
        graph = form->Graph();
        return graph != nullptr && graph->isVisible() && graph->windowHandle()->isExposed() &&
               graph->frameGeometry() != graph->geometry() && QApplication::activeWindow() == graph;
    });
    if (!framed) ADD_FAILURE() << "Ctrl+G opened no framed, active graph window";
    return framed ? graph : nullptr;
}

TEST_F(GraphRows, TheGraphOpensOffTheMainWindowsTopBarAndOnTheScreen) {
    const QRect screen = Get([] { return QGuiApplication::primaryScreen()->availableGeometry(); });
    ASSERT_EQ(screen.width(), 1280) << "the row is about a 1280-pixel-wide screen";
    LiveGraph* graph = OpenGraphByKey(form);
    ASSERT_NE(graph, nullptr);
    const QRect frame = Get([&] { return graph->frameGeometry(); });
    const QRect topBar = Get([&] {
        QWidget* content = form->Content();
        return QRect(content->mapToGlobal(QPoint(0, 0)),
                     QSize(content->width(), TForm1::kTopBarHeight));
    });
    EXPECT_FALSE(frame.intersects(topBar))
        << "the graph's frame " << frame.x() << "," << frame.y() << " " << frame.width() << "x"
        << frame.height() << " covers the top bar " << topBar.x() << "," << topBar.y() << " "
        << topBar.width() << "x" << topBar.height();
    EXPECT_TRUE(screen.contains(frame))
        << "the graph's frame " << frame.x() << "," << frame.y() << " " << frame.width() << "x"
        << frame.height() << " is not on the screen";
    const QString picture = QStringLiteral(ARTIFACT_DIR "/e2e-live-graph-placed.png");
    if (SaveScreen(picture)) std::printf("screen: %s\n", qPrintable(picture));
}

}  // namespace
