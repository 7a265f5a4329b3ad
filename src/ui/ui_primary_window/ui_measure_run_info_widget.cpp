#include "ui/ui_primary_window/ui_measure_run_info_widget.h"

#include <QDir>
#include <QVariant>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <cmath>

#include "ui/ui_primary_window/ui_measure_format.h"

namespace {
// The figures, by object name; show_info fills them in this order.
const char* const figure_names[] = {"measure_stat_count", "measure_stat_min",    "measure_stat_max",
                                    "measure_stat_mean",  "measure_stat_stddev", "measure_stat_overloads"};
}  // namespace

ui_measure_run_info_widget_t::ui_measure_run_info_widget_t(QWidget* parent) : QFrame(parent) {
    setObjectName("measure_run_info_widget");
    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(14);
    m_rec = new QLabel(QString::fromUtf8("● REC"), this);
    m_rec->setObjectName("measure_rec_label");
    m_rec->setToolTip("The run is logging its readings to the record file");
    m_rec->setVisible(false);
    m_count = new QLabel(this);
    m_count->setObjectName("measure_run_count");
    m_count->setToolTip("Readings taken in this run");
    m_elapsed = new QLabel(this);
    m_elapsed->setObjectName("measure_run_elapsed");
    m_elapsed->setToolTip("Time since the run started");
    row->addWidget(m_rec);
    row->addWidget(m_count);
    row->addWidget(m_elapsed);
    row->addStretch();

    auto* figures = new QHBoxLayout;
    figures->setContentsMargins(0, 0, 0, 0);
    figures->setSpacing(14);
    const QString captions[] = {"N", "Min", "Max", "Mean", QString::fromUtf8("σ"), "OVL"};
    const QString tips[] = {"Readings counted in the statistics (overloads apart)",
                            "Smallest reading of the run",
                            "Largest reading of the run",
                            "Mean of the run's readings",
                            "Standard deviation of the run's readings (sample, n − 1)",
                            "Overloads in this run (not in the statistics)"};
    for (int i = 0; i < 6; ++i) {
        QLabel* value = _add_figure(figure_names[i], captions[i]);
        value->setToolTip(tips[i]);
        auto* caption = new QLabel(captions[i] + ":", this);
        caption->setObjectName("measure_stat_caption");
        caption->setToolTip(tips[i]);
        figures->addWidget(caption);
        figures->addWidget(value);
    }
    figures->addStretch();

    m_note = new QLabel(this);
    m_note->setObjectName("measure_run_note");
    m_note->setWordWrap(true);
    m_note->setVisible(false);
    m_note->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 0, 20, 2);
    layout->setSpacing(0);
    layout->addLayout(row);
    layout->addLayout(figures);
    layout->addWidget(m_note);
    show_info(plib_record_run_state_info_t(), false, QString());
}

QLabel* ui_measure_run_info_widget_t::_add_figure(const char* name, const QString&) {
    auto* label = new QLabel("-", this);
    label->setObjectName(name);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QString ui_measure_run_info_widget_t::elapsed_text_of(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0) seconds = 0;
    if (seconds < 60) return QString::number(seconds, 'f', 1) + " s";
    const long long total = static_cast<long long>(seconds);
    const long long h = total / 3600, m = (total / 60) % 60, s = total % 60;
    if (h > 0) return QString("%1:%2:%3").arg(h).arg(m, 2, 10, QChar('0')).arg(s, 2, 10, QChar('0'));
    return QString("%1:%2").arg(m).arg(s, 2, 10, QChar('0'));
}

void ui_measure_run_info_widget_t::show_info(const plib_record_run_state_info_t& info, bool running,
                                             const QString& unit) {
    m_rec_shown = running && info.recording;
    m_rec->setVisible(m_rec_shown);
    if (m_rec_shown && !info.record_path.empty())
        m_rec->setToolTip("Logging to " + QDir::toNativeSeparators(QString::fromStdString(info.record_path)));
    m_count->setText(QString("%1 readings").arg(info.total_count));
    m_elapsed->setText(elapsed_text_of(info.elapsed_s));
    const plib_acq_statistics_t& st = info.statistics;
    auto figure = [this](int i) { return findChild<QLabel*>(figure_names[i]); };
    figure(0)->setText(QString::number(st.count));
    figure(1)->setText(ui_value_unit_text(st.min, unit));
    figure(2)->setText(ui_value_unit_text(st.max, unit));
    figure(3)->setText(ui_value_unit_text(st.mean, unit));
    figure(4)->setText(ui_value_unit_text(st.stddev, unit));
    figure(5)->setText(QString::number(st.overloads));
}

void ui_measure_run_info_widget_t::set_note(const QString& text) {
    m_note->setText(text);
    m_note->setVisible(!text.isEmpty());
}

QString ui_measure_run_info_widget_t::rec_text() const { return m_rec->text(); }
bool ui_measure_run_info_widget_t::rec_visible() const { return m_rec_shown; }
QString ui_measure_run_info_widget_t::count_text() const { return m_count->text(); }
QString ui_measure_run_info_widget_t::elapsed_text() const { return m_elapsed->text(); }
QString ui_measure_run_info_widget_t::note_text() const { return m_note->text(); }
QString ui_measure_run_info_widget_t::statistic_text(const char* name) const {
    const QLabel* label = findChild<QLabel*>(name);
    return label != nullptr ? label->text() : QString();
}
