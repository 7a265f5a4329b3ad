// The strip under the Measure page's display: what is running at a glance (a REC sign
// while the run logs to a file, the reading count and the elapsed time) and the
// statistics of the run (count, minimum, maximum, mean, standard deviation, overloads),
// and after an automatic stop the rule that stopped it and the file written.
//
// GUI thread only; it shows what it is given and fetches nothing itself.
#pragma once

#include <QFrame>
#include <QString>

#include "acq/plib_acq_types.h"

class QLabel;

class ui_measure_run_info_widget_t : public QFrame {
    Q_OBJECT
public:
    explicit ui_measure_run_info_widget_t(QWidget* parent);

    // `running`: the engine's run state; `unit`: the unit of the readings ("VDC").
    void show_info(const plib_record_run_state_info_t& info, bool running, const QString& unit);
    // The note under the figures ("Stopped automatically after 100 readings; file: …"),
    // empty hides it.
    void set_note(const QString& text);

    // Read back by tests.
    QString rec_text() const;
    bool rec_visible() const;
    QString count_text() const;
    QString elapsed_text() const;
    QString statistic_text(const char* name) const;
    QString note_text() const;

    // "1:02:03" or "12.3 s": the elapsed time of a run.
    static QString elapsed_text_of(double seconds);

private:
    QLabel* _add_figure(const char* name, const QString& caption);

    QLabel* m_rec = nullptr;
    QLabel* m_count = nullptr;
    QLabel* m_elapsed = nullptr;
    QLabel* m_note = nullptr;
    bool m_rec_shown = false;
};
