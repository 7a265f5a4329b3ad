// Common widgets: repairing validators, item delegates, switch button, time editor,
// message label.
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QtTest>

#include "ui/ui_combo_box.h"
#include "ui/ui_item_delegate.h"
#include "ui/ui_message_label.h"
#include "ui/ui_switch_button.h"
#include "ui/ui_time_edit_widget.h"
#include "ui/ui_tool_validator.h"
#include "ui_test_support.h"

class test_common_widgets_t : public QObject {
    Q_OBJECT

private slots:
    void double_validator_fixup_data();
    void double_validator_fixup();
    void int_validator_fixup_data();
    void int_validator_fixup();
    void line_edit_repairs_on_editing_finished();
    void double_delegate_si_prefix_data();
    void double_delegate_si_prefix();
    void delegates_build_validated_editors();
    void switch_button_defaults();
    void switch_button_without_animation_jumps();
    void switch_button_animates_to_the_end();
    void time_editor_round_trip_data();
    void time_editor_round_trip();
    void message_label_texts();
    void combo_box_remembers_index();
};

void test_common_widgets_t::double_validator_fixup_data() {
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("fixed");
    QTest::newRow("above top") << "1000"
                               << "100";
    QTest::newRow("below bottom") << "-5"
                                  << "-1.5";
    QTest::newRow("inside") << "42.25"
                            << "42.25";
    QTest::newRow("at top") << "100"
                            << "100";
    QTest::newRow("not a number") << "abc"
                                  << "abc";
    QTest::newRow("exponent above") << "1e5"
                                    << "100";
}

void test_common_widgets_t::double_validator_fixup() {
    QFETCH(QString, input);
    QFETCH(QString, fixed);
    ui_tool_double_validator_t validator(-1.5, 100, 3);
    validator.fixup(input);
    QCOMPARE(input, fixed);
}

void test_common_widgets_t::int_validator_fixup_data() {
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("fixed");
    QTest::newRow("above top") << "1001"
                               << "1000";
    QTest::newRow("below bottom") << "0"
                                  << "1";
    QTest::newRow("fraction truncated inside") << "5.9"
                                               << "5.9";
    QTest::newRow("fraction truncates inside the top") << "1000.7"
                                                       << "1000.7";
    QTest::newRow("huge") << "1e300"
                          << "1000";
    QTest::newRow("negative huge") << "-1e300"
                                   << "1";
    QTest::newRow("not a number") << "x"
                                  << "x";
}

void test_common_widgets_t::int_validator_fixup() {
    QFETCH(QString, input);
    QFETCH(QString, fixed);
    ui_tool_int_validator_t validator(1, 1000);
    validator.fixup(input);
    QCOMPARE(input, fixed);
}

void test_common_widgets_t::line_edit_repairs_on_editing_finished() {
    QLineEdit edit;
    edit.setValidator(new ui_tool_double_validator_t(0, 100, 3, &edit));
    edit.show();
    QTest::keyClicks(&edit, "1000");
    QTest::keyClick(&edit, Qt::Key_Return);
    QCOMPARE(edit.text(), QString("100"));
}

void test_common_widgets_t::double_delegate_si_prefix_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("stored");
    QTest::newRow("milli") << "0.0025"
                           << "2.5m";
    QTest::newRow("kilo") << "1500"
                          << "1.5k";
    QTest::newRow("one") << "12"
                         << "12";
    QTest::newRow("mega, six digits") << "1234567"
                                      << "1.23457M";
    QTest::newRow("micro negative") << "-0.000004"
                                    << "-4u";
}

void test_common_widgets_t::double_delegate_si_prefix() {
    QFETCH(QString, typed);
    QFETCH(QString, stored);
    QStandardItemModel model(1, 1);
    ui_item_delegate_double_t delegate(nullptr, -1e9, 1e9);
    QWidget parent;
    QWidget* editor = delegate.createEditor(&parent, QStyleOptionViewItem(), model.index(0, 0));
    auto* edit = qobject_cast<QLineEdit*>(editor);
    QVERIFY(edit != nullptr);
    edit->setText(typed);

    // Without the mode the text is stored as typed.
    delegate.setModelData(edit, &model, model.index(0, 0));
    QCOMPARE(model.data(model.index(0, 0), Qt::EditRole).toString(), typed);

    delegate.set_si_prefix_mode();
    delegate.setModelData(edit, &model, model.index(0, 0));
    QCOMPARE(model.data(model.index(0, 0), Qt::EditRole).toString(), stored);
}

void test_common_widgets_t::delegates_build_validated_editors() {
    QWidget parent;
    QStandardItemModel model(1, 1);

    ui_item_delegate_int_t int_delegate(nullptr, 1, 16);
    auto* int_edit = qobject_cast<QLineEdit*>(
        int_delegate.createEditor(&parent, QStyleOptionViewItem(), model.index(0, 0)));
    QVERIFY(int_edit != nullptr);
    auto* int_validator = qobject_cast<const ui_tool_int_validator_t*>(int_edit->validator());
    QVERIFY(int_validator != nullptr);
    QCOMPARE(int_validator->bottom(), 1);
    QCOMPARE(int_validator->top(), 16);

    ui_item_delegate_double_t double_delegate(nullptr, -2, 2);
    QSignalSpy finished(&double_delegate, &ui_item_delegate_double_t::signal_edit_finish);
    auto* double_edit = qobject_cast<QLineEdit*>(
        double_delegate.createEditor(&parent, QStyleOptionViewItem(), model.index(0, 0)));
    auto* double_validator = qobject_cast<const ui_tool_double_validator_t*>(double_edit->validator());
    QVERIFY(double_validator != nullptr);
    QCOMPARE(double_validator->decimals(), 10);
    QCOMPARE(double_validator->top(), 2.0);
    emit double_edit->editingFinished();
    QCOMPARE(finished.count(), 1);

    ui_item_delegate_str_t str_delegate;
    QSignalSpy str_finished(&str_delegate, &ui_item_delegate_str_t::signal_edit_finish);
    auto* str_edit = qobject_cast<QLineEdit*>(
        str_delegate.createEditor(&parent, QStyleOptionViewItem(), model.index(0, 0)));
    QVERIFY(str_edit != nullptr);
    QVERIFY(str_edit->validator() == nullptr);
    emit str_edit->editingFinished();
    QCOMPARE(str_finished.count(), 1);
}

void test_common_widgets_t::switch_button_defaults() {
    ui_switch_button_t button;
    QCOMPARE(button.space(), 2);
    QCOMPARE(button.radius(), 5);
    QVERIFY(!button.isChecked());
    QVERIFY(button.show_text());
    QVERIFY(button.animation());
    QCOMPARE(button.bg_color_on(), QColor(73, 155, 250));
    QCOMPARE(button.bg_color_off(), QColor(255, 50, 50));
    QCOMPARE(button.slider_color_on(), QColor(Qt::white));
    QCOMPARE(button.text_color(), QColor(Qt::white));
    QCOMPARE(button.text_on(), QString("Start"));
    QCOMPARE(button.text_off(), QString("Stop"));
}

void test_common_widgets_t::switch_button_without_animation_jumps() {
    ui_switch_button_t button;
    button.setAnimation(false);
    button.resize(100, 30);
    button.show();
    QSignalSpy status(&button, &ui_switch_button_t::signal_change_status);
    QTest::mouseClick(&button, Qt::LeftButton);
    QCOMPARE(status.count(), 1);
    QCOMPARE(status.first().first().toBool(), true);
    QCOMPARE(button.slider_position(), 70);  // width - height, at once
    QTest::mouseClick(&button, Qt::LeftButton);
    QCOMPARE(status.count(), 2);
    QCOMPARE(status.last().first().toBool(), false);
    QCOMPARE(button.slider_position(), 0);

    // Painted: the off colour left of the knob, on colour after switching on.
    const QImage off = button.grab().toImage();
    QCOMPARE(off.pixelColor(95, 15), QColor(255, 50, 50));
    QCOMPARE(off.pixelColor(15, 15), QColor(Qt::white));  // the knob at the left end
}

void test_common_widgets_t::switch_button_animates_to_the_end() {
    ui_switch_button_t button;
    button.resize(100, 30);
    button.show();
    QTest::mouseClick(&button, Qt::LeftButton);
    QVERIFY(button.slider_position() < 70);  // moving, not there yet
    QTRY_COMPARE_WITH_TIMEOUT(button.slider_position(), 70, 2000);
    const QImage on = button.grab().toImage();
    QCOMPARE(on.pixelColor(5, 15), QColor(73, 155, 250));
    QCOMPARE(on.pixelColor(85, 15), QColor(Qt::white));  // the knob at the right end
}

void test_common_widgets_t::time_editor_round_trip_data() {
    QTest::addColumn<bool>("fraction");
    QTest::addColumn<double>("seconds");
    QTest::addColumn<int>("hours");
    QTest::addColumn<int>("minutes");
    QTest::addColumn<double>("shown_seconds");
    QTest::addColumn<double>("back");
    QTest::newRow("90.5 with fraction") << true << 90.5 << 0 << 1 << 30.5 << 90.5;
    QTest::newRow("3725.25 with fraction") << true << 3725.25 << 1 << 2 << 5.25 << 3725.25;
    QTest::newRow("90.5 without fraction rounds the seconds") << false << 90.4 << 0 << 1 << 30.0 << 90.0;
    QTest::newRow("negative gives zero") << true << -3.0 << 0 << 0 << 0.0 << 0.0;
}

void test_common_widgets_t::time_editor_round_trip() {
    QFETCH(bool, fraction);
    QFETCH(double, seconds);
    QFETCH(int, hours);
    QFETCH(int, minutes);
    QFETCH(double, shown_seconds);
    QFETCH(double, back);
    ui_time_edit_widget_t editor(nullptr, fraction);
    editor.set_maximum(1000, 59, 59.999);
    QCOMPARE(editor.seconds_box()->decimals(), fraction ? 3 : 0);
    editor.set_seconds(seconds);
    QCOMPARE(editor.hours_box()->value(), hours);
    QCOMPARE(editor.minutes_box()->value(), minutes);
    QCOMPARE(editor.seconds_box()->value(), shown_seconds);
    QCOMPARE(editor.get_seconds(), back);
}

void test_common_widgets_t::message_label_texts() {
    ui_message_label_t label;
    QCOMPARE(label.objectName(), QString("message_label_box"));
    label.set_text("Max", "1.25", "V");
    QCOMPARE(label.caption(), QString("Max"));
    QCOMPARE(label.value(), QString("1.25"));
    QCOMPARE(label.unit(), QString("V"));
    label.set_value_unit("3", "mV");
    QCOMPARE(label.value(), QString("3"));
    QCOMPARE(label.unit(), QString("mV"));
    label.set_value("4");
    label.set_unit("A");
    QCOMPARE(label.value(), QString("4"));
    QCOMPARE(label.unit(), QString("A"));
    QCOMPARE(label.caption(), QString("Max"));
    QCOMPARE(label.findChildren<QLabel*>("message_label_text").size(), 2);
    QCOMPARE(label.findChildren<QLabel*>("message_label_value").size(), 2);
}

void test_common_widgets_t::combo_box_remembers_index() {
    ui_combo_box_t combo;
    combo.addItems({"a", "b", "c"});
    QCOMPARE(combo.remembered_index(), -1);
    combo.set_remembered_index(2);
    combo.setCurrentIndex(0);
    QCOMPARE(combo.remembered_index(), 2);
}

QTEST_MAIN(test_common_widgets_t)
#include "test_common_widgets.moc"
