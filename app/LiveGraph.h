#pragma once
// "Live graph": a window beside the main one with a strip chart of the live stream (engine
// speed and the three pressures, the two temperatures on a second axis) over the last 60 s,
// the running program as a band along the time axis; "Record…" writes every live message
// to a CSV file; "Open recording…" shows a recorded run whole, to zoom and to read with a
// cursor, and can replay it into the dyno log.
#include <QElapsedTimer>
#include <QRect>
#include <QTimer>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <vector>

#include "LiveRecording.h"

class QChart;
class QChartView;
class QFileDialog;
class QGraphicsLineItem;
class QGraphicsRectItem;
class QGraphicsSimpleTextItem;
class QLabel;
class QLineSeries;
class QPushButton;
class QValueAxis;
class TForm1;
class GraphView;

// Where the graph's window goes, as its frame's rectangle on the screen: beside the main
// window's frame where the screen has room on either side, level with its top; else over
// the main window's tables, from their top left corner `tables` (just below the top bar),
// shrunk down to `minimum` as far as the screen's bottom demands. It lies on the screen as
// far as `minimum` fits there.
QRect PlaceGraphWindow(const QRect& mainFrame, QPoint tables, QSize wanted, QSize minimum,
                       const QRect& screen);

class LiveGraph : public QWidget {
    Q_OBJECT
  public:
    // How much of the stream the chart shows while it runs.
    static constexpr double kLiveSeconds = 60;
    // The chart is drawn at most this often: a screen's frame. While the stream scrolls it,
    // each time it has moved by this many pixels.
    static constexpr int kFrameMs = 16;
    static constexpr int kScrollPixels = 2;
    static constexpr const char* kRecordingFilter = "Recordings (*.csv)";

    explicit LiveGraph(TForm1& form);
    ~LiveGraph() override;

    // One live message as the box sent it (every one, in order).
    void AddLive(const LiveSample& sample);
    // The stream was switched on (a new run starts on the chart), or it is off and its last
    // messages have come (the recording ends).
    void StreamChanged(bool on);
    // The connection was lost: the recording ends now.
    void ConnectionLost();

    // The records the chart draws from: the last minute of the stream, or the recording
    // opened.
    const std::vector<LiveRecord>& Records() const { return replaying_ ? replay_ : live_; }
    bool Replaying() const { return replaying_; }
    bool Recording() const { return writer_ != nullptr; }
    // The time range shown, in seconds.
    double ShownFrom() const;
    double ShownTo() const;
    // Shows a time range of the recording opened (limited to the run).
    void ZoomTo(double from, double to);
    // The cursor: a line at that time and the values of the message nearest to it.
    void ShowCursorAt(double seconds);
    // Draws what is due now instead of at the next frame.
    void RefreshNow();

    // The chart's six traces: rpm, press1, temp1, press2, temp2, press3.
    std::array<QLineSeries*, kLiveChannels> Series{};
    QChartView* View = nullptr;
    QPushButton* ButtonRecord = nullptr;
    QPushButton* ButtonOpenRecording = nullptr;
    QPushButton* ButtonReplayDynoLog = nullptr;
    QPushButton* ButtonWholeRun = nullptr;
    QLabel* LabelState = nullptr;
    QLabel* LabelCursor = nullptr;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    friend class GraphView;
    void RecordClick();
    void OpenRecordingClick();
    void ReplayDynoLogClick();
    void WholeRunClick();
    void StopRecording(const QString& why);
    void ScheduleRefresh();
    void Refresh();
    void DrawProgramBands(double from, double to);
    void FitValueAxes();
    QString ChooseRecording(bool save);
    void SayState(const QString& text);

    TForm1& form_;
    QChart* chart_ = nullptr;
    QValueAxis* axisTime_ = nullptr;
    QValueAxis* axisValue_ = nullptr;
    QValueAxis* axisTemperature_ = nullptr;
    std::vector<QGraphicsRectItem*> bands_;
    std::vector<QGraphicsSimpleTextItem*> bandLabels_;
    QGraphicsLineItem* cursorLine_ = nullptr;
    double cursorAt_ = -1;
    QTimer frame_;

    // The stream: time since it was switched on, and its last minute.
    QElapsedTimer streamClock_;
    std::vector<LiveRecord> live_;
    bool streaming_ = false;

    // A recording opened, and the part of it shown.
    std::vector<LiveRecord> replay_;
    QString replayName_;
    bool replaying_ = false;
    double zoomFrom_ = 0;
    double zoomTo_ = 0;

    // The recording being written: its clock starts at "Record…".
    std::unique_ptr<LiveCsvWriter> writer_;
    QElapsedTimer recordClock_;
    QString recordName_;
    QFileDialog* saveDialog_ = nullptr;
    QFileDialog* openDialog_ = nullptr;
};
