// The main window driven as a user would: lists, START/STOP and the poll, scroll bars,
// the wheel, mouse jumps, LOAD and SAVE.

#include "app/view_frame.h"
#include "capture/capture_files.h"
#include "capture/labels.h"
#include "capture/samples.h"
#include "view/geometry.h"
#include "view/scroll.h"
#include "viewer_test_support.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QStyleOptionComboBox>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

#include <cstring>
#include <fstream>

namespace pulsara::test {
namespace {

void SetSample(Capture& capture, int s, std::uint32_t word) {
    std::memcpy(&capture.samples[static_cast<std::size_t>(s) * 4], &word, 4);
}

QStringList Items(const QComboBox& list) {
    QStringList items;
    for (int i = 0; i < list.count(); ++i) {
        items << list.itemText(i);
    }
    return items;
}

template <std::size_t N> QStringList Labels(const std::array<std::string_view, N>& table) {
    QStringList labels;
    for (const auto label : table) {
        labels << QString::fromUtf8(label.data(), static_cast<qsizetype>(label.size()));
    }
    return labels;
}

std::string Rows(int count) {
    std::string text = "#SYSPARM 5,1,2,15,0,100\r\n";
    for (int i = 0; i < count; ++i) {
        text += "R" + std::to_string(i) + "\t" + std::to_string(i) + "\r\n";
    }
    return text;
}

// The notice shows its whole text inside its label, and its tooltip begins with it.
bool NoticeWhole(const CViewerDlg& dlg) {
    const QLabel& label = dlg.statusLabel();
    const QRect needed =
        QFontMetrics(label.font())
            .boundingRect(QRect(QPoint(), label.size()), Qt::TextWordWrap, label.text());
    return !label.text().isEmpty() && !label.text().endsWith(QChar(0x2026)) &&
           needed.width() <= label.width() && needed.height() <= label.height() &&
           label.toolTip().startsWith(label.text());
}

} // namespace

class ViewerTest : public QObject {
    Q_OBJECT
private slots:
    void opensAsTheTemplateSays_data() {
        QTest::addColumn<QString>("definition");
        QTest::addColumn<int>("maxRow");
        QTest::addColumn<QList<int>>("selections");
        QTest::newRow("first start: the default text")
            << QString::fromStdString(DefaultDefinitionText()) << 19 << QList<int>{0, 0, 0, 0};
        QTest::newRow("13 rows, settings with a saved position")
            << QString::fromStdString(Rows(13)) << 0 << QList<int>{5, 1, 2, 15};
        QTest::newRow("14 rows") << QString::fromStdString(Rows(14)) << 1
                                 << QList<int>{5, 1, 2, 15};
        QTest::newRow("indices outside their lists") << "#SYSPARM 16,3,-1,16\r\nA 1\r\n"
                                                     << 0 << QList<int>{-1, -1, -1, -1};
    }

    void opensAsTheTemplateSays() {
        QFETCH(QString, definition);
        QFETCH(int, maxRow);
        QFETCH(QList<int>, selections);
        Viewer viewer(definition.toStdString());
        auto& dlg = *viewer.dialog;

        QCOMPARE(dlg.windowTitle(), QStringLiteral("Varion USB Pulsara"));
        QCOMPARE(dlg.horizontalBar().minimum(), -8190);
        QCOMPARE(dlg.horizontalBar().maximum(), 8158);
        QCOMPARE(dlg.horizontalBar().value(), 0); // whatever the settings line saved
        QCOMPARE(dlg.verticalBar().minimum(), 0);
        QCOMPARE(dlg.verticalBar().maximum(), maxRow);
        QCOMPARE(Items(dlg.rateList()), Labels(rateLabels));
        QCOMPARE(Items(dlg.positionList()), Labels(triggerPositionLabels));
        QCOMPARE(Items(dlg.conditionList()), Labels(triggerConditionLabels));
        QCOMPARE(Items(dlg.probeList()), Labels(triggerProbeLabels));
        QCOMPARE((QList<int>{dlg.rateList().currentIndex(), dlg.positionList().currentIndex(),
                             dlg.conditionList().currentIndex(), dlg.probeList().currentIndex()}),
                 selections);
        QCOMPARE(dlg.cycle().captureArmed, 0);
        QCOMPARE(dlg.startButton().text(), QStringLiteral("START"));
        QVERIFY(dlg.timer().isActive());
        QCOMPARE(dlg.timer().interval(), 400);

        // Fixed size, and the frame's client area holds the whole view.
        QCOMPARE(dlg.minimumSize(), dlg.maximumSize());
        QVERIFY(dlg.frame().contentsRect().width() >= kViewClientWidth);
        QVERIFY(dlg.frame().contentsRect().height() >= kViewClientHeight);
        // Tab goes through START, the four lists, LOAD and SAVE only, in that order.
        QList<QWidget*> chain;
        QWidget* w = &dlg.startButton();
        do {
            if (w->focusPolicy() & Qt::TabFocus) {
                chain << w;
            }
            w = w->nextInFocusChain();
        } while (w != &dlg.startButton());
        QCOMPARE(chain, (QList<QWidget*>{&dlg.startButton(), &dlg.rateList(), &dlg.positionList(),
                                         &dlg.conditionList(), &dlg.probeList(), &dlg.loadButton(),
                                         &dlg.saveButton()}));
    }

    // START sends the two registers and the start command once; STOP and idle ticks send
    // nothing; combos changed while armed are read only at the next START.
    void startStopSendsOnce() {
        Viewer viewer;
        auto& dlg = *viewer.dialog;
        viewer.TakeWrites();
        dlg.rateList().setCurrentIndex(10);
        dlg.positionList().setCurrentIndex(1);
        dlg.conditionList().setCurrentIndex(3);
        dlg.probeList().setCurrentIndex(15);
        dlg.OnTimer();
        QVERIFY(viewer.TakeWrites().empty());

        QTest::mouseClick(&dlg.startButton(), Qt::LeftButton);
        QCOMPARE(dlg.startButton().text(), QStringLiteral("STOP"));
        QVERIFY(viewer.TakeWrites() == (std::vector<Bytes>{{0x30, 0xA1}, {0x32, 0xFC}, {0x14}}));
        QCOMPARE(viewer.capture->settings.triggerProbe, 15);

        dlg.rateList().setCurrentIndex(0);
        QTest::mouseClick(&dlg.startButton(), Qt::LeftButton);
        QCOMPARE(dlg.startButton().text(), QStringLiteral("START"));
        QVERIFY(viewer.TakeWrites().empty());
        QCOMPARE(viewer.capture->settings.rateIndex, 10);
        dlg.OnTimer();
        QVERIFY(viewer.TakeWrites().empty());
    }

    void completedCaptureMovesTheView_data() {
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("expectedH");
        QTest::newRow("TOP") << 0 << -8190;
        QTest::newRow("CENTER") << 1 << -17;
        QTest::newRow("LAST") << 2 << 8158;
        QTest::newRow("no selection stays") << -1 << 1234;
    }

    void completedCaptureMovesTheView() {
        QFETCH(int, position);
        QFETCH(int, expectedH);
        Viewer viewer;
        auto& dlg = *viewer.dialog;
        dlg.horizontalBar().setValue(1234);
        dlg.positionList().setCurrentIndex(position);
        dlg.OnStartStop();
        viewer.TakeWrites();

        auto reads = CompletedReadOut(0x5A, 3);
        reads.push_front({true, {0x04}}); // the first tick: still capturing
        viewer.linked.board.reads = reads;
        dlg.OnTimer();
        QCOMPARE(dlg.startButton().text(), QStringLiteral("STOP"));
        QVERIFY(viewer.TakeWrites() == (std::vector<Bytes>{{0x24}}));

        const int paints = dlg.frame().paintCount();
        dlg.OnTimer();
        QVERIFY(viewer.TakeWrites() ==
                (std::vector<Bytes>{{0x24}, {0x66, 0x00, 0x00, 0x08}, {0x70}, {0x10}}));
        QCOMPARE(dlg.horizontalBar().value(), expectedH);
        QCOMPARE(dlg.startButton().text(), QStringLiteral("START"));
        QCOMPARE(dlg.cycle().captureArmed, 0);
        QVERIFY(dlg.frame().paintCount() > paints);
        QCOMPARE(viewer.capture->settings.unfilledPairs, 3);
        QCOMPARE(SampleWord(viewer.capture->samples, 5), 0U);
        QCOMPARE(SampleWord(viewer.capture->samples, 6), 0x5A5A5A5AU);
        QVERIFY(dlg.statusLabel().text().isEmpty());
    }

    // A read-out that fails is not shown as a capture: the cycle disarms, keeps the old
    // samples and says so; a board that does not answer keeps the cycle armed.
    void failuresKeepThePreviousCapture_data() {
        QTest::addColumn<bool>("statusAnswered");
        QTest::addColumn<bool>("armedAfter");
        QTest::newRow("read-out comes back short") << true << false;
        QTest::newRow("status query unanswered") << false << true;
    }

    void failuresKeepThePreviousCapture() {
        QFETCH(bool, statusAnswered);
        QFETCH(bool, armedAfter);
        Viewer viewer;
        auto& dlg = *viewer.dialog;
        viewer.capture->samples.fill(0x11);
        viewer.capture->settings.unfilledPairs = 7;
        dlg.horizontalBar().setValue(100);
        dlg.OnStartStop();
        viewer.linked.driver.error = "LIBUSB_ERROR_TIMEOUT";
        if (statusAnswered) {
            viewer.linked.board.reads = {
                {true, {0x0C}}, {true, Bytes(32768, 0x22)}, {true, Bytes(100, 0x22)}};
        }
        dlg.OnTimer();
        QCOMPARE(dlg.cycle().captureArmed, armedAfter ? 1 : 0);
        QCOMPARE(dlg.startButton().text(), armedAfter ? QStringLiteral("STOP") : "START");
        QCOMPARE(SampleWord(viewer.capture->samples, 0), 0x11111111U);
        QCOMPARE(SampleWord(viewer.capture->samples, 32767), 0x11111111U);
        QCOMPARE(viewer.capture->settings.unfilledPairs, 7);
        QCOMPARE(dlg.horizontalBar().value(), 100);
        // The notice says what failed, whole, with the cable's own words in its tooltip;
        // the next START or a STOP clears it.
        QVERIFY(NoticeWhole(dlg));
        QVERIFY(dlg.statusLabel().toolTip().contains(statusAnswered ? "read" : "answer"));
        QVERIFY(dlg.statusLabel().toolTip().contains("LIBUSB_ERROR_TIMEOUT"));
        dlg.OnStartStop();
        QVERIFY(dlg.statusLabel().text().isEmpty());
        QVERIFY(dlg.statusLabel().toolTip().isEmpty());
    }

    // Every entry of every list shows whole, closed and dropped down; no push button looks
    // like the default one, wherever the focus is; a notice too long for its two lines
    // keeps its first words and ends in an ellipsis.
    void textsShowWhole() {
        Viewer viewer;
        auto& dlg = *viewer.dialog;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        for (QComboBox* list :
             {&dlg.rateList(), &dlg.positionList(), &dlg.conditionList(), &dlg.probeList()}) {
            QStyleOptionComboBox option;
            option.initFrom(list);
            option.subControls = QStyle::SC_All;
            const int field = list->style()
                                  ->subControlRect(QStyle::CC_ComboBox, &option,
                                                   QStyle::SC_ComboBoxEditField, list)
                                  .width();
            list->showPopup();
            QAbstractItemView& view = *list->view();
            QVERIFY(view.isVisible());
            for (int i = 0; i < list->count(); ++i) {
                const QString entry = list->itemText(i);
                const QString at = list->objectName() + ": " + entry;
                QVERIFY2(QFontMetrics(list->font()).horizontalAdvance(entry) <= field,
                         qPrintable(at));
                const QRect item = view.visualRect(list->model()->index(i, 0));
                QVERIFY2(QFontMetrics(view.font()).horizontalAdvance(entry) + 8 <=
                             std::min(item.width(), view.viewport()->width()),
                         qPrintable(at));
            }
            list->hidePopup();
            list->setFocus();
            for (QPushButton* button : {&dlg.startButton(), &dlg.loadButton(), &dlg.saveButton(),
                                        &dlg.analysisButton(), &dlg.aboutButton()}) {
                QVERIFY2(!button->isDefault() && !button->autoDefault(),
                         qPrintable(button->text()));
            }
        }
        const QSize box(120, 30);
        const NoticeFit fits =
            FitNotice(QStringLiteral("The board does not answer."), dlg.font(), box);
        QVERIFY(fits.whole);
        QCOMPARE(fits.text, QStringLiteral("The board does not answer."));
        const QString longText = QStringLiteral("word ").repeated(60).trimmed();
        const NoticeFit cut = FitNotice(longText, dlg.font(), box);
        QVERIFY(!cut.whole);
        QVERIFY(cut.text.endsWith(QChar(0x2026)));
        QVERIFY(longText.startsWith(cut.text.chopped(1)));
        QFont small = dlg.font();
        small.setPointSizeF(cut.pointSize);
        QVERIFY(QFontMetrics(small)
                    .boundingRect(QRect(QPoint(), box), Qt::TextWordWrap, cut.text)
                    .height() <= box.height());
    }

    void scrollBarsFollowTheProgramsRule_data() {
        QTest::addColumn<bool>("horizontal");
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("action");
        QTest::addColumn<int>("to");
        using A = QAbstractSlider;
        QTest::newRow("line right") << true << 0 << int(A::SliderSingleStepAdd) << 1;
        QTest::newRow("page left") << true << 0 << int(A::SliderPageStepSub) << -10;
        QTest::newRow("page right clamps") << true << 8150 << int(A::SliderPageStepAdd) << 8158;
        QTest::newRow("page right at the end") << true << 8158 << int(A::SliderPageStepAdd) << 8158;
        QTest::newRow("to minimum") << true << 5 << int(A::SliderToMinimum) << -8190;
        QTest::newRow("to maximum") << true << 5 << int(A::SliderToMaximum) << 8158;
        QTest::newRow("page down is one row") << false << 0 << int(A::SliderPageStepAdd) << 1;
        QTest::newRow("line up at the top") << false << 0 << int(A::SliderSingleStepSub) << 0;
        QTest::newRow("bottom") << false << 3 << int(A::SliderToMaximum) << 19;
    }

    void scrollBarsFollowTheProgramsRule() {
        QFETCH(bool, horizontal);
        QFETCH(int, from);
        QFETCH(int, action);
        QFETCH(int, to);
        Viewer viewer;
        auto& dlg = *viewer.dialog;
        QScrollBar& bar = horizontal ? dlg.horizontalBar() : dlg.verticalBar();
        bar.setPageStep(37); // Qt's own step must not matter
        bar.setValue(from);
        const int paints = dlg.frame().paintCount();
        bar.triggerAction(static_cast<QAbstractSlider::SliderAction>(action));
        QCOMPARE(bar.value(), to);
        QCOMPARE(bar.sliderPosition(), to);
        // Redrawn at once when the position changed, not at all when it did not.
        QCOMPARE(dlg.frame().paintCount() > paints, to != from);
    }

    void thumbAndWheel() {
        Viewer viewer;
        auto& dlg = *viewer.dialog;
        dlg.OnHScroll(kScrollThumbTrack, -4000);
        QCOMPARE(dlg.horizontalBar().value(), -4000);
        dlg.OnHScroll(kScrollThumbPosition, 9000);
        QCOMPARE(dlg.horizontalBar().value(), 8158);

        const QPointF at(50, 50);
        QWheelEvent down(at, dlg.frame().mapToGlobal(at), {}, {0, -240}, Qt::NoButton,
                         Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&dlg.frame(), &down);
        QCOMPARE(dlg.verticalBar().value(), 2);
        QWheelEvent left(at, dlg.frame().mapToGlobal(at), {}, {0, 120}, Qt::NoButton,
                         Qt::ShiftModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&dlg.frame(), &left);
        QCOMPARE(dlg.horizontalBar().value(), 8157);
    }

    // Column 30 at H = 0 shows sample 16410; probe 0 of row 0 changes 5 samples later and
    // 4 samples earlier.
    void mouseJumpsToTheRowsChanges_data() {
        QTest::addColumn<int>("button");
        QTest::addColumn<int>("expectedH");
        QTest::newRow("right: next change, d = 5") << int(Qt::RightButton) << 3;
        QTest::newRow("left: previous change, d = -4") << int(Qt::LeftButton) << -3;
    }

    void mouseJumpsToTheRowsChanges() {
        QFETCH(int, button);
        QFETCH(int, expectedH);
        Viewer viewer;
        auto& dlg = *viewer.dialog;
        for (int s = 16406; s < 16415; ++s) {
            SetSample(*viewer.capture, s, 1);
        }
        const QPoint client(ColumnLeft(30) + 3, SlotBaseline(0) - 5);
        QTest::mouseClick(&dlg.frame(), static_cast<Qt::MouseButton>(button), {},
                          client + dlg.frame().clientOrigin());
        QCOMPARE(dlg.horizontalBar().value(), expectedH);
    }

    void saveThenLoad() {
        TempDir dir;
        Viewer viewer;
        auto& dlg = *viewer.dialog;
        viewer.capture->samples.fill(0x3C);
        viewer.capture->settings = {7, 2, 1, 4, 9, 0};
        dlg.horizontalBar().setValue(-321);
        viewer.services.savePath = dir.path() / "run.1.wfa";
        dlg.OnSave();
        QVERIFY(viewer.services.errors.empty());
        QVERIFY(std::filesystem::exists(dir.path() / "run.wfd"));

        // Another state, armed, then LOAD: everything comes back and the cycle stays armed.
        dlg.OnStartStop();
        viewer.capture->samples.fill(0);
        viewer.capture->settings = {};
        dlg.horizontalBar().setValue(0);
        dlg.rateList().setCurrentIndex(0);
        viewer.services.loadPath = viewer.services.savePath;
        dlg.OnLoad();
        QVERIFY(viewer.services.errors.empty());
        QCOMPARE(SampleWord(viewer.capture->samples, 100), 0x3C3C3C3CU);
        QCOMPARE(viewer.capture->settings.unfilledPairs, 9);
        QCOMPARE(dlg.horizontalBar().value(), -321);
        QCOMPARE(dlg.rateList().currentIndex(), 7);
        QCOMPARE(dlg.positionList().currentIndex(), 2);
        QCOMPARE(dlg.cycle().captureArmed, 1);
        // The capture completing now follows the loaded trigger position (LAST).
        viewer.linked.board.reads = CompletedReadOut(0x01, 0);
        dlg.OnTimer();
        QCOMPARE(dlg.horizontalBar().value(), 8158);
    }

    // SAVE to a .vcd or .sr exports; LOAD of one imports it back, rows and rate included.
    void exchangeFormatsRoundTrip_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("value change dump") << QStringLiteral("x.vcd");
        QTest::newRow("sigrok session") << QStringLiteral("x.sr");
    }

    void exchangeFormatsRoundTrip() {
        QFETCH(QString, name);
        TempDir dir;
        Viewer viewer;
        auto& dlg = *viewer.dialog;
        for (int s = 0; s < kSampleCount; ++s) {
            SetSample(*viewer.capture, s, static_cast<std::uint32_t>(s) * 0x9E3779B1U);
        }
        const SampleMemory expected = viewer.capture->samples;
        viewer.capture->settings.rateIndex = 5;
        viewer.services.savePath = dir.path() / name.toStdString();
        dlg.OnSave();
        QCOMPARE(viewer.services.errors, std::vector<QString>{});
        QVERIFY(!std::filesystem::exists(dir.path() / "x.wfa")); // an export, not a capture

        viewer.capture->samples.fill(0);
        viewer.capture->settings.rateIndex = 0;
        viewer.services.loadPath = viewer.services.savePath;
        dlg.OnLoad();
        QVERIFY(viewer.services.errors.empty());
        QVERIFY(viewer.capture->samples == expected);
        QCOMPARE(dlg.rateList().currentIndex(), 5);
        QCOMPARE(viewer.capture->channels.rowCount, 32);
    }

    // LOAD of another tool's file shows every warning of the import, not only the first.
    void importNoticeShowsEveryWarning() {
        TempDir dir;
        Viewer viewer;
        const auto path = dir.path() / "late.vcd";
        std::ofstream(path)
            << "$timescale 1 us $end\n$var wire 1 ! a $end\n$var real 64 \" r $end\n"
               "$enddefinitions $end\n#5\n1!\n#9\n";
        viewer.services.loadPath = path;
        viewer.dialog->OnLoad();
        QVERIFY(viewer.services.errors.empty());
        const QString notice = viewer.dialog->statusLabel().toolTip();
        QVERIFY2(notice.contains("r (real)"), qPrintable(notice));
        QVERIFY2(notice.contains("starts at #5"), qPrintable(notice));
        QVERIFY2(notice.contains("covers 4 samples"), qPrintable(notice));
    }

    void fileErrorsChangeNothing_data() {
        QTest::addColumn<bool>("save");
        QTest::newRow("load a file that is not there") << false;
        QTest::newRow("save into a folder that is not there") << true;
    }

    void fileErrorsChangeNothing() {
        QFETCH(bool, save);
        TempDir dir;
        Viewer viewer;
        auto& dlg = *viewer.dialog;
        viewer.capture->samples.fill(0x77);
        const CaptureSettings before = viewer.capture->settings;
        const auto path = dir.path() / "missing" / "x.wfa";
        (save ? viewer.services.savePath : viewer.services.loadPath) = path;
        save ? dlg.OnSave() : dlg.OnLoad();
        QCOMPARE(viewer.services.errors.size(), std::size_t{1});
        QVERIFY(viewer.services.errors[0].contains(QString::fromStdString(path.string())));
        QVERIFY(viewer.capture->settings == before);
        QCOMPARE(SampleWord(viewer.capture->samples, 0), 0x77777777U);
        QVERIFY(!std::filesystem::exists(path.parent_path()));
    }

    // Escape ends the window, Enter too unless a push button has the focus (then it is
    // that button's press).
    void keysThatEndTheWindow_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("onButton");
        QTest::addColumn<bool>("ends");
        QTest::newRow("Escape") << int(Qt::Key_Escape) << false << true;
        QTest::newRow("Enter on a list") << int(Qt::Key_Return) << false << true;
        QTest::newRow("Enter on START presses it") << int(Qt::Key_Return) << true << false;
        QTest::newRow("Enter on START, keypad") << int(Qt::Key_Enter) << true << false;
    }

    void keysThatEndTheWindow() {
        QFETCH(int, key);
        QFETCH(bool, onButton);
        QFETCH(bool, ends);
        Viewer viewer;
        auto& dlg = *viewer.dialog;
        dlg.activateWindow();
        QWidget& target = onButton ? static_cast<QWidget&>(dlg.startButton()) : dlg.rateList();
        target.setFocus();
        QTest::keyClick(&target, static_cast<Qt::Key>(key));
        QCOMPARE(dlg.isVisible(), !ends);
        QCOMPARE(dlg.cycle().captureArmed, onButton ? 1 : 0);
    }

    void aboutBoxOpensAndCloses() {
        Viewer viewer;
        auto& dlg = *viewer.dialog;
        QString title;
        QTimer::singleShot(0, [&] {
            auto* about = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            QVERIFY(about != nullptr);
            title = about->windowTitle();
            auto* ok = about->findChild<QPushButton*>(QStringLiteral("okButton"));
            QTest::mouseClick(ok, Qt::LeftButton);
        });
        // Should the box not be found, never leave it blocking the run.
        QTimer::singleShot(5000, [] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                modal->close();
            }
        });
        QTest::mouseClick(&dlg.aboutButton(), Qt::LeftButton);
        QCOMPARE(title, QString::fromUtf8("pulsaraのﾊﾞｰｼﾞｮﾝ情報"));
    }
};

} // namespace pulsara::test

int RunViewerTests(int argc, char** argv) {
    pulsara::test::ViewerTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "viewer_dlg_test.moc"
