// The port-state switch: size, flipping, animation ends and mouse handling.
#include "widgets/SwitchControl.h"

#include <QSignalSpy>
#include <QtTest>

class TestSwitch : public QObject
{
    Q_OBJECT

private slots:
    void sizeHints();
    void animationRunsToEachEnd();
    void quickFlipsReverse();
    void stepTakenBeforeEndTest();
    void mouse();
    void resizeKeepsThumbAtItsEnd();
};

namespace
{
// Runs the animation to rest by driving its steps directly.
void settle(SwitchControl &s)
{
    for (int i = 0; i < 1000 && s.isAnimating(); ++i)
        s.onTimeout();
}
} // namespace

void TestSwitch::sizeHints()
{
    SwitchControl s;
    QCOMPARE(s.minimumSizeHint(), QSize(38, 22));
    QCOMPARE(s.sizeHint(), QSize(38, 22));
    QVERIFY(!s.isChecked());
    QVERIFY(!s.isAnimating());
}

void TestSwitch::animationRunsToEachEnd()
{
    SwitchControl s;
    s.resize(50, 50);
    s.show();
    QCOMPARE(s.thumbPosition(), 8.0);
    s.switchclick();
    QVERIFY(s.isAnimating());
    // The real timer moves the thumb one pixel per 10 ms: 26 steps to 34.
    QTRY_VERIFY_WITH_TIMEOUT(!s.isAnimating(), 3000);
    QCOMPARE(s.thumbPosition(), 34.0);
    s.switchclick();
    settle(s);
    QCOMPARE(s.thumbPosition(), 8.0);
}

void TestSwitch::quickFlipsReverse()
{
    SwitchControl s;
    s.resize(50, 50);
    s.show();
    QVERIFY(QTest::qWaitForWindowExposed(&s));
    QSignalSpy spy(&s, &SwitchControl::toggled);
    s.switchclick();
    for (int i = 0; i < 5; ++i)
        s.onTimeout();
    QCOMPARE(s.thumbPosition(), 13.0);
    s.switchclick();
    QVERIFY(s.isAnimating());
    s.onTimeout();
    QCOMPARE(s.thumbPosition(), 12.0); // reversed from where it was
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(0).at(0).toBool(), true);
    QCOMPARE(spy.at(1).at(0).toBool(), false);
    settle(s);
    QCOMPARE(s.thumbPosition(), 8.0);
}

void TestSwitch::stepTakenBeforeEndTest()
{
    SwitchControl s;
    s.resize(50, 50);
    s.show();
    QVERIFY(QTest::qWaitForWindowExposed(&s));
    s.switchclick();
    s.switchclick();
    s.onTimeout();
    QCOMPARE(s.thumbPosition(), 7.0);
    QVERIFY(!s.isAnimating());
    s.switchclick();
    s.onTimeout();
    QCOMPARE(s.thumbPosition(), 8.0); // the next flip starts from 7
}

void TestSwitch::mouse()
{
    SwitchControl s;
    s.resize(50, 50);
    s.show();
    QVERIFY(QTest::qWaitForWindowExposed(&s));
    QSignalSpy spy(&s, &SwitchControl::toggled);

    QTest::mouseClick(&s, Qt::RightButton);
    QCOMPARE(spy.count(), 0);
    QTest::mouseClick(&s, Qt::LeftButton);
    QCOMPARE(spy.count(), 1);
    QVERIFY(s.isChecked());

    s.setEnabled(false);
    QTest::mouseClick(&s, Qt::LeftButton);
    QCOMPARE(spy.count(), 1);
    QVERIFY(s.isChecked());
    s.switchclick(); // code still flips a disabled switch
    QCOMPARE(spy.count(), 2);
    QVERIFY(!s.isChecked());
    QVERIFY(s.isAnimating());

    // Disabled and enabled switches are drawn alike.
    settle(s);
    const QImage disabledLook = s.grab().toImage();
    s.setEnabled(true);
    QCOMPARE(s.grab().toImage(), disabledLook);
}

void TestSwitch::resizeKeepsThumbAtItsEnd()
{
    SwitchControl s;
    s.resize(50, 50);
    s.show();
    QVERIFY(QTest::qWaitForWindowExposed(&s));
    s.switchclick();
    settle(s);
    QCOMPARE(s.thumbPosition(), 34.0);
    s.resize(44, 30);
    QCOMPARE(s.thumbPosition(), 28.0); // width - 16
    s.switchclick();
    settle(s);
    QCOMPARE(s.thumbPosition(), 8.0);
    s.resize(60, 30);
    QCOMPARE(s.thumbPosition(), 8.0);
}

QTEST_MAIN(TestSwitch)
#include "tst_switch.moc"
