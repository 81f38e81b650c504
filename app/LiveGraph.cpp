#include "LiveGraph.h"

#include <QChart>
#include <QChartView>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGraphicsLineItem>
#include <QGraphicsRectItem>
#include <QGraphicsSimpleTextItem>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <QValueAxis>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "ErrorGuard.h"
#include "Pictures.h"
#include "Presenter.h"
#include "Unit1.h"

namespace {

struct Trace {
    const char* name;
    QColor colour;
    bool temperature;
};

// rpm, press1, temp1, press2, temp2, press3: the pressures in the colours of their channels,
// the temperatures dashed in a lighter tone of the same.
const Trace kTraces[kLiveChannels] = {
    {"RPM", QColor(0x20, 0x20, 0x20), false},        {"CH1", QColor(0xD0, 0x30, 0x30), false},
    {"CH1 \u00B0C", QColor(0xE8, 0x90, 0x90), true}, {"CH2", QColor(0x20, 0x60, 0xD0), false},
    {"CH2 \u00B0C", QColor(0x90, 0xB0, 0xE8), true}, {"CH3", QColor(0x20, 0xA0, 0x40), false},
};

// The band's colour for a program: ten light tones.
QColor ProgramColour(int program) {
    return QColor::fromHsv((program * 36 + 200) % 360, program == 0 ? 0 : 70, 235);
}

// The smallest 1, 2 or 5 times a power of ten at or above value.
double NiceCeiling(double value) {
    if (value <= 0) return 1;
    const double power = std::pow(10.0, std::floor(std::log10(value)));
    for (const double step : {1.0, 2.0, 5.0, 10.0}) {
        if (step * power >= value) return step * power;
    }
    return 10 * power;
}

double Seconds(const LiveRecord& record) {
    return static_cast<double>(record.time.count()) / 1e6;
}

}  // namespace

QRect PlaceGraphWindow(const QRect& mainFrame, QPoint tables, QSize wanted, QSize minimum,
                       const QRect& screen) {
    // Apart from the main window by as much as a window manager's shadow.
    constexpr int kGap = 8;
    QSize size = wanted.boundedTo(screen.size()).expandedTo(minimum);
    const auto onScreen = [&](QPoint at) {
        at.setX(std::clamp(at.x(), screen.left(),
                           std::max(screen.left(), screen.right() + 1 - size.width())));
        at.setY(std::clamp(at.y(), screen.top(),
                           std::max(screen.top(), screen.bottom() + 1 - size.height())));
        return QRect(at, size);
    };
    const int right = mainFrame.right() + 1 + kGap;
    if (right + size.width() - 1 <= screen.right()) return onScreen({right, mainFrame.top()});
    const int left = mainFrame.left() - kGap - size.width();
    if (left >= screen.left()) return onScreen({left, mainFrame.top()});
    const int below = screen.bottom() + 1 - tables.y();
    size.setHeight(std::max(minimum.height(), std::min(size.height(), below)));
    return onScreen(tables);
}

// The chart's view: the cursor follows the mouse; on a recording the wheel zooms the time
// around the mouse and a drag zooms into the time it spans (a right click zooms out).
class GraphView : public QChartView {
  public:
    GraphView(QChart* chart, LiveGraph& graph) : QChartView(chart), graph_(graph) {
        setMouseTracking(true);
        setRenderHint(QPainter::Antialiasing, false);
    }

  protected:
    void mouseMoveEvent(QMouseEvent* event) override {
        if (!graph_.Records().empty() && chart()->plotArea().contains(event->position())) {
            graph_.ShowCursorAt(chart()->mapToValue(event->position(), graph_.Series[0]).x());
        }
        QChartView::mouseMoveEvent(event);
    }
    void wheelEvent(QWheelEvent* event) override {
        if (!graph_.Replaying() || event->angleDelta().y() == 0) {
            QChartView::wheelEvent(event);
            return;
        }
        const double at = chart()->mapToValue(event->position(), graph_.Series[0]).x();
        const double factor = event->angleDelta().y() > 0 ? 0.8 : 1.25;
        const double from = graph_.ShownFrom();
        const double to = graph_.ShownTo();
        graph_.ZoomTo(at - (at - from) * factor, at + (to - at) * factor);
        event->accept();
    }

  private:
    LiveGraph& graph_;
};

// A tool window of the main one: it stays above it, so that where it covers the tables (a small
// screen), a click on the main window's top bar does not hide it.
LiveGraph::LiveGraph(TForm1& form) : QWidget(&form, Qt::Tool), form_(form) {
    setObjectName(QStringLiteral("LiveGraph"));
    setWindowTitle(QStringLiteral("Live graph"));
    setWindowIcon(AppIcon());

    chart_ = new QChart();
    chart_->setAnimationOptions(QChart::NoAnimation);
    chart_->legend()->setAlignment(Qt::AlignBottom);
    chart_->setMargins(QMargins(4, 4, 4, 4));
    axisTime_ = new QValueAxis();
    axisTime_->setTitleText(QStringLiteral("s"));
    axisTime_->setLabelFormat(QStringLiteral("%.1f"));
    axisTime_->setTickCount(7);
    axisValue_ = new QValueAxis();
    axisValue_->setTitleText(QStringLiteral("RPM, pressure"));
    axisValue_->setLabelFormat(QStringLiteral("%.0f"));
    axisTemperature_ = new QValueAxis();
    axisTemperature_->setTitleText(QStringLiteral("\u00B0C"));
    axisTemperature_->setLabelFormat(QStringLiteral("%.0f"));
    chart_->addAxis(axisTime_, Qt::AlignBottom);
    chart_->addAxis(axisValue_, Qt::AlignLeft);
    chart_->addAxis(axisTemperature_, Qt::AlignRight);
    axisValue_->setRange(0, 1000);
    axisTemperature_->setRange(0, 100);
    for (int c = 0; c < kLiveChannels; ++c) {
        auto* series = new QLineSeries();
        series->setName(QString::fromUtf8(kTraces[c].name));
        QPen pen(kTraces[c].colour);
        pen.setWidthF(kTraces[c].temperature ? 1.0 : 1.5);
        if (kTraces[c].temperature) pen.setStyle(Qt::DashLine);
        series->setPen(pen);
        chart_->addSeries(series);
        series->attachAxis(axisTime_);
        series->attachAxis(kTraces[c].temperature ? axisTemperature_ : axisValue_);
        Series[static_cast<size_t>(c)] = series;
    }
    // A drag, a wheel turn or a right click on a recording changes the time shown.
    connect(axisTime_, &QValueAxis::rangeChanged, this, [this](qreal from, qreal to) {
        if (!replaying_ || (from == zoomFrom_ && to == zoomTo_)) return;
        zoomFrom_ = from;
        zoomTo_ = to;
        ScheduleRefresh();
    });

    View = new GraphView(chart_, *this);
    View->setObjectName(QStringLiteral("GraphView"));
    View->setMinimumSize(760, 420);
    cursorLine_ = new QGraphicsLineItem(chart_);
    cursorLine_->setPen(QPen(QColor(0x80, 0x80, 0x80), 1, Qt::DotLine));
    cursorLine_->setZValue(20);
    cursorLine_->hide();

    ButtonRecord = new QPushButton(QStringLiteral("Record\u2026"), this);
    ButtonRecord->setObjectName(QStringLiteral("ButtonRecord"));
    ButtonOpenRecording = new QPushButton(QStringLiteral("Open recording\u2026"), this);
    ButtonOpenRecording->setObjectName(QStringLiteral("ButtonOpenRecording"));
    ButtonReplayDynoLog = new QPushButton(QStringLiteral("Replay into dyno log"), this);
    ButtonReplayDynoLog->setObjectName(QStringLiteral("ButtonReplayDynoLog"));
    ButtonReplayDynoLog->setEnabled(false);
    ButtonWholeRun = new QPushButton(QStringLiteral("Whole run"), this);
    ButtonWholeRun->setObjectName(QStringLiteral("ButtonWholeRun"));
    ButtonWholeRun->setEnabled(false);
    LabelState = new QLabel(this);
    LabelState->setObjectName(QStringLiteral("LabelState"));
    LabelCursor = new QLabel(this);
    LabelCursor->setObjectName(QStringLiteral("LabelCursor"));
    LabelCursor->setTextInteractionFlags(Qt::TextSelectableByMouse);
    connect(ButtonRecord, &QPushButton::clicked, this, &LiveGraph::RecordClick);
    connect(ButtonOpenRecording, &QPushButton::clicked, this, &LiveGraph::OpenRecordingClick);
    connect(ButtonReplayDynoLog, &QPushButton::clicked, this, &LiveGraph::ReplayDynoLogClick);
    connect(ButtonWholeRun, &QPushButton::clicked, this, &LiveGraph::WholeRunClick);

    auto* buttons = new QHBoxLayout();
    for (QPushButton* button :
         {ButtonRecord, ButtonOpenRecording, ButtonReplayDynoLog, ButtonWholeRun}) {
        buttons->addWidget(button);
    }
    buttons->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(View, 1);
    layout->addLayout(buttons);
    layout->addWidget(LabelCursor);
    layout->addWidget(LabelState);

    frame_.setSingleShot(true);
    frame_.setInterval(kFrameMs);
    connect(&frame_, &QTimer::timeout, this, &LiveGraph::Refresh);
    SayState(QStringLiteral("Switch the dyno log on to see the engine live."));
}

LiveGraph::~LiveGraph() {
    // The tool closes: the recording is finished, whatever the disk says by now.
    if (writer_) {
        try {
            writer_->Close();
        } catch (const LiveCsvError&) {
        }
    }
}

void LiveGraph::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    ScheduleRefresh();
}

void LiveGraph::AddLive(const LiveSample& sample) {
    if (!streamClock_.isValid()) streamClock_.start();
    const int program = form_.Vars().ActiveProgram;
    const std::chrono::microseconds now(streamClock_.nsecsElapsed() / 1000);
    live_.push_back({now, sample, program});
    // Only the last minute is kept; what is older goes in batches.
    const auto keep = now - std::chrono::microseconds(static_cast<long long>(kLiveSeconds * 1e6));
    if (live_.front().time < keep - std::chrono::seconds(10)) {
        live_.erase(live_.begin(),
                    std::lower_bound(live_.begin(), live_.end(), keep,
                                     [](const LiveRecord& r, auto t) { return r.time < t; }));
    }
    if (writer_) {
        writer_->Add(
            {std::chrono::microseconds(recordClock_.nsecsElapsed() / 1000), sample, program});
    }
    if (!replaying_) ScheduleRefresh();
}

void LiveGraph::StreamChanged(bool on) {
    streaming_ = on;
    if (on) {
        // A new run: the chart follows the stream from its start.
        live_.clear();
        streamClock_.start();
        replaying_ = false;
        View->setRubberBand(QChartView::NoRubberBand);
        ButtonWholeRun->setEnabled(false);
        ButtonReplayDynoLog->setEnabled(false);
        cursorAt_ = -1;
        LabelCursor->clear();
        if (!writer_) SayState(QStringLiteral("Live"));
    } else if (writer_) {
        StopRecording(QStringLiteral("the stream stopped"));
    }
    ScheduleRefresh();
}

void LiveGraph::ConnectionLost() {
    streaming_ = false;
    if (writer_) StopRecording(QStringLiteral("the connection was lost"));
}

double LiveGraph::ShownFrom() const {
    if (replaying_) return zoomFrom_;
    return ShownTo() - kLiveSeconds;
}

double LiveGraph::ShownTo() const {
    if (replaying_) return zoomTo_;
    double end = 0;
    if (streaming_ && streamClock_.isValid()) {
        end = static_cast<double>(streamClock_.nsecsElapsed()) / 1e9;
    } else if (!live_.empty()) {
        end = Seconds(live_.back());
    }
    return std::max(end, kLiveSeconds);
}

void LiveGraph::ZoomTo(double from, double to) {
    if (!replaying_ || replay_.empty()) return;
    const double end = std::max(Seconds(replay_.back()), 0.001);
    const double width = std::clamp(to - from, 0.001, end);
    from = std::clamp(from, 0.0, end - width);
    zoomFrom_ = from;
    zoomTo_ = from + width;
    RefreshNow();
}

void LiveGraph::ShowCursorAt(double seconds) {
    const std::vector<LiveRecord>& records = Records();
    if (records.empty()) return;
    const std::chrono::microseconds at(static_cast<long long>(std::llround(seconds * 1e6)));
    auto next = std::lower_bound(records.begin(), records.end(), at,
                                 [](const LiveRecord& r, auto t) { return r.time < t; });
    if (next == records.end() ||
        (next != records.begin() && at - (next - 1)->time < next->time - at))
        --next;
    const LiveRecord& r = *next;
    cursorAt_ = Seconds(r);
    LabelCursor->setText(
        QStringLiteral("%1 s   P%2   RPM %3   CH1 %4 (%5 \u00B0C)   CH2 %6 (%7 \u00B0C)   CH3 %8")
            .arg(cursorAt_, 0, 'f', 6)
            .arg(r.program)
            .arg(r.sample.rpm)
            .arg(r.sample.press1)
            .arg(r.sample.temp1)
            .arg(r.sample.press2)
            .arg(r.sample.temp2)
            .arg(r.sample.press3));
    ScheduleRefresh();
}

void LiveGraph::ScheduleRefresh() {
    if (frame_.isActive()) return;
    // While the stream scrolls the chart, it moves by two pixels a step: a minute over the
    // plot's width is about 170 ms. More often would cost the window's thread (and the
    // display's connection) a whole chart each time for a shift of a pixel or less.
    const double width = std::max(100.0, chart_->plotArea().width());
    const bool scrolling = !replaying_ && streaming_;
    frame_.setInterval(scrolling ? std::max(kFrameMs, static_cast<int>(kScrollPixels *
                                                                       kLiveSeconds * 1000 / width))
                                 : kFrameMs);
    frame_.start();
}

void LiveGraph::RefreshNow() {
    frame_.stop();
    Refresh();
}

void LiveGraph::Refresh() {
    if (writer_) {
        SayState(
            QStringLiteral("Recording to %1: %2 messages").arg(recordName_).arg(writer_->Lines()));
    }
    if (!isVisible()) return;
    const double from = ShownFrom();
    const double to = ShownTo();
    // Two points (the lowest and the highest) for every two pixels of the plot's width; for
    // every four while the stream scrolls it, which halves what each step draws and keeps
    // every peak.
    const int pixelsASlice = !replaying_ && streaming_ ? 4 : 2;
    const int slices = std::max(50, static_cast<int>(chart_->plotArea().width()) / pixelsASlice);
    const auto traces = TraceEnvelope(Records(), from, to, slices);
    for (int c = 0; c < kLiveChannels; ++c) {
        QList<QPointF> points;
        points.reserve(static_cast<qsizetype>(traces[static_cast<size_t>(c)].size()));
        for (const TracePoint& p : traces[static_cast<size_t>(c)]) points.append({p.t, p.v});
        Series[static_cast<size_t>(c)]->replace(points);
    }
    if (axisTime_->min() != from || axisTime_->max() != to) axisTime_->setRange(from, to);
    FitValueAxes();
    DrawProgramBands(from, to);
    if (cursorAt_ >= from && cursorAt_ <= to) {
        const QRectF plot = chart_->plotArea();
        const double x = chart_->mapToPosition(QPointF(cursorAt_, 0), Series[0]).x();
        cursorLine_->setLine(x, plot.top(), x, plot.bottom());
        cursorLine_->show();
    } else {
        cursorLine_->hide();
    }
}

void LiveGraph::FitValueAxes() {
    // The axes grow at once with the values and shrink only when they have fallen well below:
    // a steady scale, and few new axis labels.
    double values = 0;
    double temperatures = 0;
    for (int c = 0; c < kLiveChannels; ++c) {
        for (const QPointF& p : Series[static_cast<size_t>(c)]->points()) {
            double& top = kTraces[c].temperature ? temperatures : values;
            top = std::max(top, p.y());
        }
    }
    const auto fit = [](QValueAxis* axis, double highest, double least) {
        const double top = NiceCeiling(std::max(highest * 1.05, least));
        if (top > axis->max() || top < axis->max() / 2.5) axis->setRange(0, top);
    };
    fit(axisValue_, values, 100);
    fit(axisTemperature_, temperatures, 10);
}

void LiveGraph::DrawProgramBands(double from, double to) {
    // One band along the bottom of the plot for each stretch of time a program ran.
    const std::vector<LiveRecord>& records = Records();
    const QRectF plot = chart_->plotArea();
    auto at = std::lower_bound(records.begin(), records.end(), from,
                               [](const LiveRecord& r, double t) { return Seconds(r) < t; });
    size_t shown = 0;
    while (at != records.end() && Seconds(*at) <= to) {
        auto end = at;
        while (end != records.end() && end->program == at->program && Seconds(*end) <= to) ++end;
        const double last =
            end == records.end() || Seconds(*end) > to ? Seconds(*(end - 1)) : Seconds(*end);
        const double x0 = chart_->mapToPosition(QPointF(Seconds(*at), 0), Series[0]).x();
        const double x1 = std::max(x0 + 1, chart_->mapToPosition(QPointF(last, 0), Series[0]).x());
        if (shown == bands_.size()) {
            auto* band = new QGraphicsRectItem(chart_);
            band->setPen(Qt::NoPen);
            band->setZValue(-1);
            band->setData(0, QStringLiteral("program band"));
            bands_.push_back(band);
            auto* label = new QGraphicsSimpleTextItem(chart_);
            label->setZValue(-1);
            bandLabels_.push_back(label);
        }
        QGraphicsRectItem* band = bands_[shown];
        band->setRect(QRectF(QPointF(x0, plot.bottom() - 14), QPointF(x1, plot.bottom())));
        band->setBrush(ProgramColour(at->program));
        band->show();
        QGraphicsSimpleTextItem* label = bandLabels_[shown];
        label->setText(QStringLiteral("P%1").arg(at->program));
        label->setPos(x0 + 3, plot.bottom() - 14);
        label->setVisible(x1 - x0 > 24);
        ++shown;
        at = end;
    }
    for (size_t k = shown; k < bands_.size(); ++k) {
        bands_[k]->hide();
        bandLabels_[k]->hide();
    }
}

QString LiveGraph::ChooseRecording(bool save) {
    QFileDialog*& dialog = save ? saveDialog_ : openDialog_;
    if (dialog == nullptr) {
        dialog = new QFileDialog(this);
        dialog->setObjectName(save ? QStringLiteral("SaveRecordingDialog")
                                   : QStringLiteral("OpenRecordingDialog"));
        dialog->setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        dialog->setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
        dialog->setOption(QFileDialog::DontUseNativeDialog);
        dialog->setNameFilter(QString::fromLatin1(kRecordingFilter));
        dialog->setDefaultSuffix(QStringLiteral("csv"));
        dialog->setModal(true);
    }
    return TForm1::RunFileChooser(dialog);
}

void LiveGraph::SayState(const QString& text) {
    LabelState->setText(text);
}

void LiveGraph::RecordClick() {
    Guarded([&] {
        if (writer_) {
            StopRecording(QStringLiteral("stopped"));
            return;
        }
        if (!streaming_)
            throw std::runtime_error("Switch the dyno log on to record the live stream.");
        const QString path = ChooseRecording(true);
        if (path.isEmpty()) return;
        try {
            writer_ = std::make_unique<LiveCsvWriter>(QFile::encodeName(path).toStdString());
        } catch (const LiveCsvError& error) {
            throw std::runtime_error(error.what());
        }
        recordClock_.start();
        recordName_ = QFileInfo(path).fileName();
        ButtonRecord->setText(QStringLiteral("Stop recording"));
        SayState(QStringLiteral("Recording to %1").arg(recordName_));
    });
}

void LiveGraph::StopRecording(const QString& why) {
    std::unique_ptr<LiveCsvWriter> writer = std::move(writer_);
    ButtonRecord->setText(QStringLiteral("Record\u2026"));
    if (!writer) return;
    const uint64_t lines = writer->Lines();
    Guarded([&] {
        writer->Close();
        SayState(
            QStringLiteral("Recorded %1 messages to %2 (%3).").arg(lines).arg(recordName_, why));
    });
}

void LiveGraph::OpenRecordingClick() {
    Guarded([&] {
        if (streaming_)
            throw std::runtime_error("Switch the dyno log off before opening a recording.");
        const QString path = ChooseRecording(false);
        if (path.isEmpty()) return;
        const QString name = QFileInfo(path).fileName();
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            throw std::runtime_error(QStringLiteral("Cannot open \"%1\": %2.")
                                         .arg(name, file.errorString())
                                         .toStdString());
        const QByteArray text = file.readAll();
        std::vector<LiveRecord> records;
        try {
            records =
                ParseLiveCsv(std::string_view(text.constData(), static_cast<size_t>(text.size())));
        } catch (const LiveCsvError& error) {
            throw std::runtime_error(QStringLiteral("\"%1\" is not a live recording: %2.")
                                         .arg(name, QString::fromStdString(error.what()))
                                         .toStdString());
        }
        replay_ = std::move(records);
        replayName_ = name;
        replaying_ = true;
        cursorAt_ = -1;
        LabelCursor->clear();
        View->setRubberBand(QChartView::HorizontalRubberBand);
        ButtonWholeRun->setEnabled(true);
        ButtonReplayDynoLog->setEnabled(!replay_.empty());
        const double end = replay_.empty() ? 0 : Seconds(replay_.back());
        SayState(QStringLiteral("%1: %2 messages over %3 s. Turn the wheel or drag to zoom.")
                     .arg(name)
                     .arg(replay_.size())
                     .arg(end, 0, 'f', 1));
        zoomFrom_ = 0;
        zoomTo_ = std::max(end, 0.001);
        RefreshNow();
    });
}

void LiveGraph::WholeRunClick() {
    if (replaying_ && !replay_.empty()) ZoomTo(0, Seconds(replay_.back()));
}

void LiveGraph::ReplayDynoLogClick() {
    Guarded([&] {
        if (streaming_)
            throw std::runtime_error(
                "Switch the dyno log off before replaying a recording into it.");
        const TextGrid& log = form_.GridByName(Grid::StrGridDynoLog);
        bool points = false;
        // Before a download the row holds zeros.
        for (int c = 1; c <= 16; ++c) points |= !log.Cell(c, 0).empty() && log.Cell(c, 0) != "0";
        if (!points)
            throw std::runtime_error("The dyno log has no RPM points yet: download the box first.");
        ReplayLiveRecords(form_, form_.Vars(), replay_);
        SayState(QStringLiteral("Replayed %1 messages of %2 into the dyno log.")
                     .arg(replay_.size())
                     .arg(replayName_));
    });
}
