// The GUI thread's pieces of work: one per turn of the event loop, in the order posted
// across every caller, and none for a caller that is gone.
#include <QtTest>
#include <memory>

#include "ui/ui_gui_slices.h"

class test_gui_slices_t : public QObject {
    Q_OBJECT

private slots:
    void one_piece_per_turn_in_order();
    void pieces_of_a_deleted_caller_are_dropped();
};

void test_gui_slices_t::one_piece_per_turn_in_order() {
    ui_gui_slices_t& slices = ui_gui_slices_t::instance();
    QObject first;
    QObject second;
    QStringList log;
    // A timer that ticks every turn writes a mark between the pieces.
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (log.isEmpty() || log.last() != "|") log << "|";
    });
    ticker.start(0);
    slices.post(&first, [&] {
        log << "a1";
        // Posted from a piece: behind the pieces already waiting.
        slices.post(&first, [&] { log << "a3"; });
    });
    slices.post(&second, [&] { log << "b1"; });
    slices.post(&first, [&] { log << "a2"; });
    QVERIFY(!slices.idle());
    QTRY_VERIFY(slices.idle());
    QTest::qWait(20);
    ticker.stop();
    QStringList pieces = log;
    pieces.removeAll("|");
    QCOMPARE(pieces, QStringList({"a1", "b1", "a2", "a3"}));
    // No two pieces in one turn: a tick between every two.
    for (int i = 1; i < log.size(); ++i)
        QVERIFY2(log[i] == "|" || log[i - 1] == "|", qPrintable(log.join(' ')));
}

void test_gui_slices_t::pieces_of_a_deleted_caller_are_dropped() {
    ui_gui_slices_t& slices = ui_gui_slices_t::instance();
    auto gone = std::make_unique<QObject>();
    QObject kept;
    QStringList log;
    slices.post(gone.get(), [&] { log << "gone"; });
    slices.post(&kept, [&] { log << "kept"; });
    gone.reset();
    QTRY_VERIFY(slices.idle());
    QCOMPARE(log, QStringList({"kept"}));
}

// The queue needs an event loop only, no screen.
QTEST_GUILESS_MAIN(test_gui_slices_t)
#include "test_gui_slices.moc"
