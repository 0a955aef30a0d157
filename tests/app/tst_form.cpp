// Checks the main window form as its generated set-up code leaves it: the
// widget tree, rectangles, fonts, style sheets, captions, combo items, tab
// pages and stacking order. The form is set up on a plain QMainWindow so the
// checks see the form alone, before any window constructor adjusts it.

#include <QtTest>

#include <QChildEvent>
#include <QComboBox>
#include <QHash>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTabWidget>
#include <QTextEdit>
#include <QToolBar>
#include <QTranslator>

#include <functional>
#include <iterator>

#include "ui_mainwindow.h"

namespace {

const QString kSheet12 = QStringLiteral("font: 75 12pt \"微软雅黑\";");
const QString kSheet10 = QStringLiteral("font: 75 10pt \"微软雅黑\";\n");
const QString kOwnTip = QStringLiteral("<html><head/><body><p><span style=\" "
                                       "font-size:10pt;\">自有协议下使用</span></p></body></html>");
const QString kModbusTip = QStringLiteral(
    "<html><head/><body><p><span style=\" font-size:10pt;\">Modbus下使用</span></p></body></html>");

enum Sheet { NoSheet, Sheet12, Sheet10 };

struct FormWidget {
    const char *name;
    const char *className;
    const char *owner; // tab pages are owned by tabWidget
    QRect rect;        // null: the form leaves placement to Qt
    bool formFont;
    Sheet sheet;
};

// Every widget of the form, in creation order.
const FormWidget kWidgets[] = {
    {"centralWidget", "QWidget", "MainWindow", QRect(), false, NoSheet},
    {"label_2", "QLabel", "centralWidget", QRect(718, 20, 71, 31), true, Sheet12},
    {"label_3", "QLabel", "centralWidget", QRect(720, 56, 121, 31), true, Sheet12},
    {"label_softid", "QLabel", "centralWidget", QRect(820, 60, 121, 21), true, Sheet12},
    {"Edit_DeviceID", "QLineEdit", "centralWidget", QRect(820, 20, 121, 31), true, Sheet12},
    {"groupBox_Com", "QGroupBox", "centralWidget", QRect(10, 10, 691, 61), false, Sheet12},
    {"comboBoxCOM", "QComboBox", "groupBox_Com", QRect(82, 22, 81, 22), true, NoSheet},
    {"pushButtonClose", "QPushButton", "groupBox_Com", QRect(398, 20, 75, 31), true, NoSheet},
    {"label", "QLabel", "groupBox_Com", QRect(24, 24, 61, 21), true, NoSheet},
    {"comboBox_BoudRate", "QComboBox", "groupBox_Com", QRect(190, 22, 81, 22), false, NoSheet},
    {"pushButtonOpen", "QPushButton", "groupBox_Com", QRect(308, 20, 75, 31), true, NoSheet},
    {"pushButton_3", "QPushButton", "groupBox_Com", QRect(490, 20, 81, 31), true, NoSheet},
    {"pushButton", "QPushButton", "groupBox_Com", QRect(589, 20, 75, 31), true, NoSheet},
    {"tabWidget", "QTabWidget", "centralWidget", QRect(10, 80, 481, 631), false, Sheet10},
    {"tab", "QWidget", "tabWidget", QRect(), false, NoSheet},
    {"pushButton_GetInfo", "QPushButton", "tab", QRect(30, 200, 131, 41), true, Sheet12},
    {"pushButton_SetID", "QPushButton", "tab", QRect(200, 200, 111, 41), true, Sheet12},
    {"pushButton_SetFactoryConfig", "QPushButton", "tab", QRect(80, 90, 111, 41), true, Sheet12},
    {"pushButton_GetNoise", "QPushButton", "tab", QRect(270, 30, 111, 41), true, Sheet12},
    {"pushButton_GetSN", "QPushButton", "tab", QRect(80, 30, 111, 41), true, Sheet12},
    {"pushButton_GetVersion", "QPushButton", "tab", QRect(270, 90, 111, 41), true, Sheet12},
    {"pushButton_ChangeToVelaProtocol", "QPushButton", "tab", QRect(60, 280, 161, 41), true,
     Sheet12},
    {"pushButton_ChangeToModbus", "QPushButton", "tab", QRect(250, 280, 161, 41), true, Sheet12},
    {"tab_3", "QWidget", "tabWidget", QRect(), false, NoSheet},
    {"pushButton_GetDeviceAddr", "QPushButton", "tab_3", QRect(40, 40, 111, 41), true, Sheet12},
    {"pushButton_SetDeviceAddr", "QPushButton", "tab_3", QRect(40, 100, 111, 41), true, Sheet12},
    {"lineEdit_DeviceAddr", "QLineEdit", "tab_3", QRect(200, 60, 81, 41), false, Sheet12},
    {"tab_Calibrate", "QWidget", "tabWidget", QRect(), false, NoSheet},
    {"pushButton_Calibrate", "QPushButton", "tab_Calibrate", QRect(10, 30, 111, 31), false,
     Sheet12},
    {"comboBox_Calibrate", "QComboBox", "tab_Calibrate", QRect(140, 34, 69, 22), false, NoSheet},
    {"lineEdit_CalibrZero", "QLineEdit", "tab_Calibrate", QRect(113, 100, 71, 31), false, Sheet12},
    {"lineEdit_CalibrateFactor", "QLineEdit", "tab_Calibrate", QRect(300, 100, 71, 31), false,
     Sheet12},
    {"label_27", "QLabel", "tab_Calibrate", QRect(29, 92, 81, 41), true, Sheet12},
    {"label_28", "QLabel", "tab_Calibrate", QRect(219, 92, 81, 41), true, Sheet12},
    {"comboBox_CalibrateRange", "QComboBox", "tab_Calibrate", QRect(325, 33, 91, 22), false,
     NoSheet},
    {"label_29", "QLabel", "tab_Calibrate", QRect(232, 24, 91, 41), true, Sheet12},
    {"tab_2", "QWidget", "tabWidget", QRect(), false, NoSheet},
    {"pushButton_GetOrigin", "QPushButton", "tab_2", QRect(160, 40, 221, 41), false, Sheet12},
    {"pushButton_GetCaliParam", "QPushButton", "tab_2", QRect(40, 120, 131, 41), false, Sheet12},
    {"pushButton_SetCaliParam", "QPushButton", "tab_2", QRect(40, 210, 131, 41), false, Sheet12},
    {"lineEdit_CaliParamA", "QLineEdit", "tab_2", QRect(260, 120, 121, 31), false, Sheet12},
    {"label_30", "QLabel", "tab_2", QRect(200, 115, 81, 41), true, Sheet12},
    {"label_31", "QLabel", "tab_2", QRect(200, 165, 81, 41), true, Sheet12},
    {"lineEdit_CaliParamB", "QLineEdit", "tab_2", QRect(260, 170, 121, 31), false, Sheet12},
    {"label_32", "QLabel", "tab_2", QRect(200, 215, 81, 41), true, Sheet12},
    {"lineEdit_CaliParamC", "QLineEdit", "tab_2", QRect(260, 220, 121, 31), false, Sheet12},
    {"pushButton_GetCaliParam_Vela", "QPushButton", "tab_2", QRect(20, 320, 191, 41), false,
     Sheet12},
    {"pushButton_SetCaliParam_Vela", "QPushButton", "tab_2", QRect(230, 320, 181, 41), false,
     Sheet12},
    {"lineEdit_Cmd", "QLineEdit", "centralWidget", QRect(650, 100, 471, 31), false, Sheet12},
    {"textEdit", "QTextEdit", "centralWidget", QRect(650, 140, 471, 581), false, Sheet12},
    {"label_4", "QLabel", "centralWidget", QRect(540, 100, 91, 31), true, Sheet12},
    {"label_5", "QLabel", "centralWidget", QRect(540, 140, 91, 31), true, Sheet12},
    {"menuBar", "QMenuBar", "MainWindow", QRect(0, 0, 1197, 23), false, NoSheet},
    {"mainToolBar", "QToolBar", "MainWindow", QRect(), false, NoSheet},
    {"statusBar", "QStatusBar", "MainWindow", QRect(), false, NoSheet},
};

// The form's pointer members, in declaration order.
// clang-format off
#define FORM_WIDGETS(X) \
    X(centralWidget) X(label_2) X(label_3) X(label_softid) X(Edit_DeviceID) X(groupBox_Com)        \
    X(comboBoxCOM) X(pushButtonClose) X(label) X(comboBox_BoudRate) X(pushButtonOpen)              \
    X(pushButton_3) X(pushButton) X(tabWidget) X(tab) X(pushButton_GetInfo) X(pushButton_SetID)    \
    X(pushButton_SetFactoryConfig) X(pushButton_GetNoise) X(pushButton_GetSN)                      \
    X(pushButton_GetVersion) X(pushButton_ChangeToVelaProtocol) X(pushButton_ChangeToModbus)       \
    X(tab_3) X(pushButton_GetDeviceAddr) X(pushButton_SetDeviceAddr) X(lineEdit_DeviceAddr)        \
    X(tab_Calibrate) X(pushButton_Calibrate) X(comboBox_Calibrate) X(lineEdit_CalibrZero)          \
    X(lineEdit_CalibrateFactor) X(label_27) X(label_28) X(comboBox_CalibrateRange) X(label_29)     \
    X(tab_2) X(pushButton_GetOrigin) X(pushButton_GetCaliParam) X(pushButton_SetCaliParam)         \
    X(lineEdit_CaliParamA) X(label_30) X(label_31) X(lineEdit_CaliParamB) X(label_32)              \
    X(lineEdit_CaliParamC) X(pushButton_GetCaliParam_Vela) X(pushButton_SetCaliParam_Vela)         \
    X(lineEdit_Cmd) X(textEdit) X(label_4) X(label_5) X(menuBar) X(mainToolBar) X(statusBar)
// clang-format on

// One text of the caption step. "items" rows hold a combo box's items separated
// by line feeds; "tabText" rows name the page whose tab title they set.
struct CaptionStep {
    const char *object;
    const char *property;
    QString text;
};

// The caption step in the order it runs.
const QVector<CaptionStep> &captionSteps()
{
    static const QVector<CaptionStep> steps = {
        {"MainWindow", "windowTitle", QStringLiteral("KTR450配置软件")},
        {"label_2", "text", QStringLiteral("设备ID：")},
        {"label_3", "text", QStringLiteral("固件版本：")},
        {"label_softid", "text", QStringLiteral("Firmware ID")},
        {"Edit_DeviceID", "text", QStringLiteral("ffff-ffff")},
        {"groupBox_Com", "title", QStringLiteral("COM")},
        {"pushButtonClose", "text", QStringLiteral("关闭")},
        {"label", "text", QStringLiteral("串口：")},
        {"comboBox_BoudRate", "items", QStringLiteral("9600\n2400\n4800")},
        {"comboBox_BoudRate", "currentText", QStringLiteral("9600")},
        {"pushButtonOpen", "text", QStringLiteral("打开")},
        {"pushButton_3", "text", QStringLiteral("刷新")},
        {"pushButton", "text", QStringLiteral("清除内容")},
        {"pushButton_GetInfo", "toolTip", kOwnTip},
        {"pushButton_GetInfo", "text", QStringLiteral("获取设备信息-V")},
        {"pushButton_SetID", "toolTip", kOwnTip},
        {"pushButton_SetID", "text", QStringLiteral("设置设备号-V")},
        {"pushButton_SetFactoryConfig", "toolTip", kModbusTip},
        {"pushButton_SetFactoryConfig", "text", QStringLiteral("恢复出厂设置")},
        {"pushButton_GetNoise", "toolTip", kOwnTip},
        {"pushButton_GetNoise", "text", QStringLiteral("查询噪音值")},
        {"pushButton_GetSN", "toolTip", kModbusTip},
        {"pushButton_GetSN", "text", QStringLiteral("获取设备SN")},
        {"pushButton_GetVersion", "toolTip", kModbusTip},
        {"pushButton_GetVersion", "text", QStringLiteral("获取固件版本")},
        {"pushButton_ChangeToVelaProtocol", "toolTip", kOwnTip},
        {"pushButton_ChangeToVelaProtocol", "text", QStringLiteral("转换为维拉协议")},
        {"pushButton_ChangeToModbus", "toolTip", kOwnTip},
        {"pushButton_ChangeToModbus", "text", QStringLiteral("转换为Modbus协议")},
        {"tab", "tabText", QStringLiteral("基本信息")},
        {"pushButton_GetDeviceAddr", "toolTip", kOwnTip},
        {"pushButton_GetDeviceAddr", "text", QStringLiteral("设备地址查询")},
        {"pushButton_SetDeviceAddr", "toolTip", kOwnTip},
        {"pushButton_SetDeviceAddr", "text", QStringLiteral("设备地址设置")},
        {"tab_3", "tabText", QStringLiteral("地址设置")},
        {"pushButton_Calibrate", "text", QStringLiteral("校准")},
        {"comboBox_Calibrate", "items", QStringLiteral("查询\n设置")},
        {"label_27", "text", QStringLiteral("数值校准：")},
        {"label_28", "text", QStringLiteral("比例校准：")},
        {"comboBox_CalibrateRange", "items", QStringLiteral("噪音")},
        {"label_29", "text", QStringLiteral("校准范围：")},
        {"tab_Calibrate", "tabText", QStringLiteral("校准")},
        {"pushButton_GetOrigin", "text", QStringLiteral("获取原始值和映射值")},
        {"pushButton_GetCaliParam", "text", QStringLiteral("读取校准参数")},
        {"pushButton_SetCaliParam", "text", QStringLiteral("写入校准参数")},
        {"label_30", "text", QStringLiteral("参数A：")},
        {"label_31", "text", QStringLiteral("参数B：")},
        {"label_32", "text", QStringLiteral("参数C：")},
        {"pushButton_GetCaliParam_Vela", "text", QStringLiteral("读取校准参数-Vela")},
        {"pushButton_SetCaliParam_Vela", "text", QStringLiteral("写入校准参数-Vela")},
        {"tab_2", "tabText", QStringLiteral("标定")},
        {"label_4", "text", QStringLiteral("发送指令：")},
        {"label_5", "text", QStringLiteral("接收指令：")},
    };
    return steps;
}

QObject *formObject(QMainWindow &window, const char *name)
{
    if (window.objectName() == QLatin1String(name) || qstrcmp(name, "MainWindow") == 0)
        return &window;
    return window.findChild<QObject *>(QLatin1String(name));
}

// The text a caption step left on screen, read back from its widget.
QString shownCaption(QMainWindow &window, const CaptionStep &step)
{
    QObject *object = formObject(window, step.object);
    if (!object)
        return QStringLiteral("<no widget %1>").arg(QLatin1String(step.object));
    const QLatin1String property(step.property);
    if (property == QLatin1String("tabText")) {
        auto *tabs = window.findChild<QTabWidget *>(QStringLiteral("tabWidget"));
        return tabs->tabText(tabs->indexOf(static_cast<QWidget *>(object)));
    }
    if (property == QLatin1String("items")) {
        auto *combo = static_cast<QComboBox *>(object);
        QStringList items;
        for (int i = 0; i < combo->count(); ++i)
            items << combo->itemText(i);
        return items.join(QLatin1Char('\n'));
    }
    return object->property(step.property).toString();
}

// The text a step shows when every lookup result goes through `shown`.
QString expectedCaption(const CaptionStep &step,
                        const std::function<QString(const QString &)> &shown)
{
    QStringList parts = step.text.split(QLatin1Char('\n'));
    for (QString &part : parts)
        part = shown(part);
    return parts.join(QLatin1Char('\n'));
}

QStringList captionMismatches(QMainWindow &window,
                              const std::function<QString(const QString &)> &shown)
{
    QStringList mismatches;
    for (const CaptionStep &step : captionSteps()) {
        const QString actual = shownCaption(window, step);
        const QString expected = expectedCaption(step, shown);
        if (actual != expected)
            mismatches << QStringLiteral("%1.%2: '%3' instead of '%4'")
                              .arg(QLatin1String(step.object), QLatin1String(step.property), actual,
                                   expected);
    }
    return mismatches;
}

QString identity(const QString &text)
{
    return text;
}

// The widget that owns `widget` in the form: a tab page's owner is its tab
// widget, not the stack inside it.
QWidget *formOwner(QWidget *widget)
{
    QWidget *parent = widget->parentWidget();
    if (qobject_cast<QStackedWidget *>(parent) &&
        qobject_cast<QTabWidget *>(parent->parentWidget()))
        return parent->parentWidget();
    return parent;
}

// Watches the whole application while a form is set up: notes each object the
// first time it appears as a new child or as a parent receiving one (which is
// how a page created without a parent shows up), and the font each widget has
// when it first receives an explicit font.
class SetupRecorder : public QObject
{
  public:
    QVector<const QObject *> seen;
    QHash<const QObject *, QFont> explicitFonts;

    bool eventFilter(QObject *receiver, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::ChildAdded:
            note(receiver);
            note(static_cast<QChildEvent *>(event)->child());
            break;
        case QEvent::ChildRemoved:
            // Helpers that Qt creates and drops again may free their address
            // for a later widget.
            seen.removeAll(static_cast<QChildEvent *>(event)->child());
            break;
        case QEvent::FontChange:
            if (receiver->isWidgetType()) {
                auto *widget = static_cast<QWidget *>(receiver);
                if (widget->testAttribute(Qt::WA_SetFont) && !explicitFonts.contains(widget))
                    explicitFonts.insert(widget, widget->font());
            }
            break;
        default:
            break;
        }
        return false;
    }

  private:
    void note(const QObject *object)
    {
        if (!seen.contains(object))
            seen.append(object);
    }
};

// Records every lookup of the caption step and answers with a marked text, so
// a test can tell a looked-up caption from a literal one.
class RecordingTranslator : public QTranslator
{
  public:
    struct Lookup {
        QByteArray context;
        QString source;
        bool disambiguated;
        int n;
    };
    mutable QVector<Lookup> lookups;

    static QString mark(const QString &source)
    {
        return QStringLiteral("[") + source + QStringLiteral("]");
    }

    bool isEmpty() const override { return false; }

    QString translate(const char *context, const char *sourceText, const char *disambiguation,
                      int n) const override
    {
        const QString source = QString::fromUtf8(sourceText);
        lookups.append({QByteArray(context), source, disambiguation != nullptr, n});
        return mark(source);
    }
};

bool showAndWait(QWidget &window)
{
    window.show();
    const bool exposed = QTest::qWaitForWindowExposed(&window);
    QCoreApplication::processEvents();
    return exposed;
}

} // namespace

// A window with slots named after form buttons, to see the set-up bind them.
class SlotProbeWindow : public QMainWindow
{
    Q_OBJECT
  public:
    int noiseClicks = 0;
    int originClicks = 0;

  private slots:
    void on_pushButton_GetNoise_clicked() { ++noiseClicks; }
    void on_pushButton_GetOrigin_clicked() { ++originClicks; }
};

class FormTest : public QObject
{
    Q_OBJECT

  private slots:
    void initTestCase();
    void cleanupTestCase();

    void widgetsHaveTheirClassAndOwner_data();
    void widgetsHaveTheirClassAndOwner();
    void formPointersFollowCreationOrderAndNames();
    void widgetsAreCreatedInListedOrder();
    void unnamedWindowIsNamedAndSized();
    void namedWindowKeepsItsName();
    void widgetsSitAtTheirRectangles_data();
    void widgetsSitAtTheirRectangles();
    void formFontGoesToMarkedWidgetsOnly_data();
    void formFontGoesToMarkedWidgetsOnly();
    void styleSheetsAreExact_data();
    void styleSheetsAreExact();
    void styleSheetFontsReachChildren();
    void captionsAreShown_data();
    void captionsAreShown();
    void onlyListedButtonsCarryToolTips();
    void fieldsWithoutCaptionStartEmpty();
    void captionStepLooksUpEveryTextInOrder();
    void comboBoxesHoldTheirItems();
    void tabPagesInOrderWithLastPageCurrent();
    void deviceAddressFieldIsCentred();
    void windowBarsAreInstalled();
    void laterRaisedWidgetsStackAbove();
    void captionStepRunTwiceKeepsComboItemsOnce();
    void resizingMovesNothing();
    void buttonsAreBoundToSlotsByName();

  private:
    void addWidgetRows(bool withRectOnly = false);
    QWidget *widget(const char *name) const;

    QMainWindow *m_window = nullptr;
    Ui::MainWindow m_ui;
    SetupRecorder m_recorder;
};

void FormTest::initTestCase()
{
    m_window = new QMainWindow;
    qApp->installEventFilter(&m_recorder);
    m_ui.setupUi(m_window);
    qApp->removeEventFilter(&m_recorder);
}

void FormTest::cleanupTestCase()
{
    delete m_window;
    m_window = nullptr;
}

QWidget *FormTest::widget(const char *name) const
{
    if (m_window->objectName() == QLatin1String(name))
        return m_window;
    return m_window->findChild<QWidget *>(QLatin1String(name));
}

void FormTest::addWidgetRows(bool withRectOnly)
{
    QTest::addColumn<int>("row");
    for (int i = 0; i < int(std::size(kWidgets)); ++i) {
        if (!withRectOnly || !kWidgets[i].rect.isNull())
            QTest::newRow(kWidgets[i].name) << i;
    }
}

void FormTest::widgetsHaveTheirClassAndOwner_data()
{
    addWidgetRows();
}

void FormTest::widgetsHaveTheirClassAndOwner()
{
    QFETCH(int, row);
    const FormWidget &entry = kWidgets[row];
    const QList<QWidget *> found = m_window->findChildren<QWidget *>(QLatin1String(entry.name));
    QCOMPARE(found.size(), 1);
    QCOMPARE(found.first()->metaObject()->className(), entry.className);
    QWidget *owner = formOwner(found.first());
    QVERIFY(owner);
    QCOMPARE(owner->objectName(), QLatin1String(entry.owner));
}

void FormTest::formPointersFollowCreationOrderAndNames()
{
    struct Field {
        const char *name;
        const void *member;
        QWidget *widget;
    };
    const Field fields[] = {
#define FORM_FIELD(n) {#n, &m_ui.n, m_ui.n},
        FORM_WIDGETS(FORM_FIELD)
#undef FORM_FIELD
    };
    QCOMPARE(std::size(fields), std::size(kWidgets));
    for (std::size_t i = 0; i < std::size(fields); ++i) {
        QCOMPARE(fields[i].name, kWidgets[i].name);
        QCOMPARE(fields[i].widget, widget(kWidgets[i].name));
        if (i > 0)
            QVERIFY2(std::less<const void *>()(fields[i - 1].member, fields[i].member),
                     fields[i].name);
    }
}

void FormTest::widgetsAreCreatedInListedOrder()
{
    QHash<const QObject *, QString> names;
    for (const FormWidget &entry : kWidgets)
        names.insert(widget(entry.name), QLatin1String(entry.name));

    QStringList created;
    for (const QObject *object : qAsConst(m_recorder.seen)) {
        if (names.contains(object))
            created << names.value(object);
    }
    QStringList expected;
    for (const FormWidget &entry : kWidgets)
        expected << QLatin1String(entry.name);
    QCOMPARE(created, expected);
}

void FormTest::unnamedWindowIsNamedAndSized()
{
    QCOMPARE(m_window->objectName(), QStringLiteral("MainWindow"));
    QCOMPARE(m_window->size(), QSize(1197, 795));
}

void FormTest::namedWindowKeepsItsName()
{
    QMainWindow window;
    window.setObjectName(QStringLiteral("ConfigWindow"));
    Ui::MainWindow ui;
    ui.setupUi(&window);
    QCOMPARE(window.objectName(), QStringLiteral("ConfigWindow"));
    QCOMPARE(window.size(), QSize(1197, 795));
    QCOMPARE(window.centralWidget(), ui.centralWidget);
}

void FormTest::widgetsSitAtTheirRectangles_data()
{
    addWidgetRows(true);
}

void FormTest::widgetsSitAtTheirRectangles()
{
    QFETCH(int, row);
    QCOMPARE(widget(kWidgets[row].name)->geometry(), kWidgets[row].rect);
}

void FormTest::formFontGoesToMarkedWidgetsOnly_data()
{
    addWidgetRows();
}

void FormTest::formFontGoesToMarkedWidgetsOnly()
{
    QFETCH(int, row);
    const FormWidget &entry = kWidgets[row];
    QWidget *w = widget(entry.name);
    QCOMPARE(w->testAttribute(Qt::WA_SetFont), entry.formFont);
    if (!entry.formFont)
        return;
    QVERIFY(m_recorder.explicitFonts.contains(w));
    const QFont font = m_recorder.explicitFonts.value(w);
    QCOMPARE(font.family(), QStringLiteral("微软雅黑"));
    QCOMPARE(font.pointSize(), 12);
    QCOMPARE(font.weight(), 9); // the weight set last wins over the bold flag
    QVERIFY(!font.bold());
    QVERIFY(!font.italic());
}

void FormTest::styleSheetsAreExact_data()
{
    addWidgetRows();
}

void FormTest::styleSheetsAreExact()
{
    QFETCH(int, row);
    const FormWidget &entry = kWidgets[row];
    const QString expected = entry.sheet == Sheet12   ? kSheet12
                             : entry.sheet == Sheet10 ? kSheet10
                                                      : QString();
    QCOMPARE(widget(entry.name)->styleSheet(), expected);
}

void FormTest::styleSheetFontsReachChildren()
{
    // What each sheet makes of a widget on its own, to compare the cascade with.
    QLabel alone12;
    alone12.setStyleSheet(kSheet12);
    alone12.ensurePolished();
    QLabel alone10;
    alone10.setStyleSheet(kSheet10);
    alone10.ensurePolished();
    QCOMPARE(alone12.font().pointSize(), 12);
    QCOMPARE(alone10.font().pointSize(), 10);

    QMainWindow window;
    Ui::MainWindow ui;
    ui.setupUi(&window);
    const QList<QWidget *> groupChildren = {
        ui.comboBoxCOM,    ui.pushButtonClose, ui.label,     ui.comboBox_BoudRate,
        ui.pushButtonOpen, ui.pushButton_3,    ui.pushButton};
    for (QWidget *child : groupChildren) {
        child->ensurePolished();
        QCOMPARE(child->font().family(), alone12.font().family());
        QCOMPARE(child->font().pointSize(), 12);
        QCOMPARE(child->font().weight(), alone12.font().weight());
    }
    // The calibration combo boxes carry no sheet of their own and show the
    // tab widget's 10 pt rule.
    for (QWidget *child : {static_cast<QWidget *>(ui.comboBox_Calibrate),
                           static_cast<QWidget *>(ui.comboBox_CalibrateRange)}) {
        child->ensurePolished();
        QCOMPARE(child->font().family(), alone10.font().family());
        QCOMPARE(child->font().pointSize(), 10);
        QCOMPARE(child->font().weight(), alone10.font().weight());
    }
}

void FormTest::captionsAreShown_data()
{
    QTest::addColumn<int>("step");
    const QVector<CaptionStep> &steps = captionSteps();
    for (int i = 0; i < steps.size(); ++i)
        QTest::addRow("%s %s", steps[i].object, steps[i].property) << i;
}

void FormTest::captionsAreShown()
{
    QFETCH(int, step);
    const CaptionStep &entry = captionSteps().at(step);
    QCOMPARE(shownCaption(*m_window, entry), entry.text);
}

void FormTest::onlyListedButtonsCarryToolTips()
{
    QSet<QString> withTip;
    for (const CaptionStep &step : captionSteps()) {
        if (qstrcmp(step.property, "toolTip") == 0)
            withTip.insert(QLatin1String(step.object));
    }
    QCOMPARE(withTip.size(), 10);
    for (const FormWidget &entry : kWidgets) {
        QWidget *w = widget(entry.name);
        QVERIFY2(w->toolTip().isEmpty() != withTip.contains(QLatin1String(entry.name)), entry.name);
    }
    QVERIFY(m_window->toolTip().isEmpty());
}

void FormTest::fieldsWithoutCaptionStartEmpty()
{
    for (QLineEdit *edit :
         {m_ui.lineEdit_DeviceAddr, m_ui.lineEdit_CalibrZero, m_ui.lineEdit_CalibrateFactor,
          m_ui.lineEdit_CaliParamA, m_ui.lineEdit_CaliParamB, m_ui.lineEdit_CaliParamC,
          m_ui.lineEdit_Cmd}) {
        QVERIFY2(edit->text().isEmpty(), qPrintable(edit->objectName()));
        QVERIFY(!edit->isReadOnly());
        QVERIFY(edit->isEnabled());
    }
    QVERIFY(m_ui.textEdit->toPlainText().isEmpty());
    QVERIFY(!m_ui.textEdit->isReadOnly());
    QCOMPARE(m_ui.comboBoxCOM->count(), 0);
}

void FormTest::captionStepLooksUpEveryTextInOrder()
{
    RecordingTranslator translator;
    QVERIFY(QCoreApplication::installTranslator(&translator));
    QMainWindow window;
    Ui::MainWindow ui;
    ui.setupUi(&window);
    QCoreApplication::removeTranslator(&translator);

    QStringList expected;
    for (const CaptionStep &step : captionSteps())
        expected << step.text.split(QLatin1Char('\n'));

    QStringList looked;
    for (const RecordingTranslator::Lookup &lookup : qAsConst(translator.lookups)) {
        if (lookup.context != "MainWindow")
            continue;
        looked << lookup.source;
        QVERIFY(!lookup.disambiguated);
        QCOMPARE(lookup.n, -1);
    }
    QCOMPARE(looked, expected);

    // Each widget shows what the lookup returned, not its source text.
    const QStringList mismatches = captionMismatches(window, &RecordingTranslator::mark);
    QVERIFY2(mismatches.isEmpty(), qPrintable(mismatches.join(QLatin1Char('\n'))));
}

void FormTest::comboBoxesHoldTheirItems()
{
    QCOMPARE(m_ui.comboBox_BoudRate->count(), 3);
    QCOMPARE(m_ui.comboBox_BoudRate->itemText(0), QStringLiteral("9600"));
    QCOMPARE(m_ui.comboBox_BoudRate->itemText(1), QStringLiteral("2400"));
    QCOMPARE(m_ui.comboBox_BoudRate->itemText(2), QStringLiteral("4800"));
    QCOMPARE(m_ui.comboBox_BoudRate->currentIndex(), 0);
    QCOMPARE(m_ui.comboBox_BoudRate->currentText(), QStringLiteral("9600"));

    QCOMPARE(m_ui.comboBox_Calibrate->count(), 2);
    QCOMPARE(m_ui.comboBox_Calibrate->currentIndex(), 0);
    QCOMPARE(m_ui.comboBox_Calibrate->currentText(), QStringLiteral("查询"));

    QCOMPARE(m_ui.comboBox_CalibrateRange->count(), 1);
    QCOMPARE(m_ui.comboBox_CalibrateRange->currentText(), QStringLiteral("噪音"));

    for (QComboBox *combo : {m_ui.comboBoxCOM, m_ui.comboBox_BoudRate, m_ui.comboBox_Calibrate,
                             m_ui.comboBox_CalibrateRange})
        QVERIFY(!combo->isEditable());
}

void FormTest::tabPagesInOrderWithLastPageCurrent()
{
    QTabWidget *tabs = m_ui.tabWidget;
    QCOMPARE(tabs->count(), 4);
    QCOMPARE(tabs->widget(0), m_ui.tab);
    QCOMPARE(tabs->widget(1), m_ui.tab_3);
    QCOMPARE(tabs->widget(2), m_ui.tab_Calibrate);
    QCOMPARE(tabs->widget(3), m_ui.tab_2);
    QCOMPARE(tabs->tabText(0), QStringLiteral("基本信息"));
    QCOMPARE(tabs->tabText(1), QStringLiteral("地址设置"));
    QCOMPARE(tabs->tabText(2), QStringLiteral("校准"));
    QCOMPARE(tabs->tabText(3), QStringLiteral("标定"));
    QCOMPARE(tabs->currentIndex(), 3);
    QCOMPARE(tabs->currentWidget(), m_ui.tab_2);
}

void FormTest::deviceAddressFieldIsCentred()
{
    QCOMPARE(m_ui.lineEdit_DeviceAddr->alignment(), Qt::Alignment(Qt::AlignCenter));
    QCOMPARE(m_ui.Edit_DeviceID->alignment(), QLineEdit().alignment());
    QCOMPARE(m_ui.lineEdit_Cmd->alignment(), QLineEdit().alignment());
}

void FormTest::windowBarsAreInstalled()
{
    QCOMPARE(m_window->centralWidget(), m_ui.centralWidget);
    QCOMPARE(m_window->menuBar(), m_ui.menuBar);
    QVERIFY(m_ui.menuBar->actions().isEmpty());
    QCOMPARE(m_window->statusBar(), m_ui.statusBar);
    QCOMPARE(m_window->toolBarArea(m_ui.mainToolBar), Qt::TopToolBarArea);
    QCOMPARE(m_window->findChildren<QToolBar *>().size(), 1);
    const QList<QAction *> toolActions = m_ui.mainToolBar->actions();
    QCOMPARE(toolActions.size(), 1);
    QVERIFY(toolActions.first()->isSeparator());
}

void FormTest::laterRaisedWidgetsStackAbove()
{
    const QStringList bottomToTop = {
        "label_2",      "label_3",  "label_softid", "Edit_DeviceID", "groupBox_Com",
        "lineEdit_Cmd", "textEdit", "tabWidget",    "label_4",       "label_5"};
    QStringList stacked;
    for (QObject *child : m_ui.centralWidget->children()) {
        if (child->isWidgetType())
            stacked << child->objectName();
    }
    QCOMPARE(stacked, bottomToTop);

    // label_softid overlaps label_3 and, raised later, is the one drawn there.
    QMainWindow window;
    Ui::MainWindow ui;
    ui.setupUi(&window);
    QVERIFY(showAndWait(window));
    QVERIFY(ui.label_3->geometry().intersects(ui.label_softid->geometry()));
    QCOMPARE(ui.centralWidget->childAt(830, 70), static_cast<QWidget *>(ui.label_softid));
}

void FormTest::captionStepRunTwiceKeepsComboItemsOnce()
{
    QMainWindow window;
    Ui::MainWindow ui;
    ui.setupUi(&window);
    ui.comboBox_BoudRate->setCurrentIndex(2);
    ui.label_softid->setText(QStringLiteral("V1.02"));
    ui.Edit_DeviceID->setText(QStringLiteral("0001-0002"));

    ui.retranslateUi(&window);

    QCOMPARE(ui.comboBox_BoudRate->count(), 3);
    QCOMPARE(ui.comboBox_BoudRate->currentText(), QStringLiteral("9600"));
    QCOMPARE(ui.comboBox_Calibrate->count(), 2);
    QCOMPARE(ui.comboBox_CalibrateRange->count(), 1);
    QCOMPARE(ui.tabWidget->count(), 4);
    const QStringList mismatches = captionMismatches(window, identity);
    QVERIFY2(mismatches.isEmpty(), qPrintable(mismatches.join(QLatin1Char('\n'))));
}

void FormTest::resizingMovesNothing()
{
    QMainWindow window;
    Ui::MainWindow ui;
    ui.setupUi(&window);
    QVERIFY(showAndWait(window));

    const QSet<QString> placedByWindow = {"centralWidget", "menuBar", "mainToolBar", "statusBar"};
    QHash<QWidget *, QRect> before;
    for (const FormWidget &entry : kWidgets) {
        if (!placedByWindow.contains(QLatin1String(entry.name)))
            before.insert(window.findChild<QWidget *>(QLatin1String(entry.name)), QRect());
    }
    for (auto it = before.begin(); it != before.end(); ++it)
        it.value() = it.key()->geometry();
    const QSize centralBefore = ui.centralWidget->size();

    for (const QSize &size : {QSize(1600, 1000), QSize(700, 500)}) {
        window.resize(size);
        QCoreApplication::processEvents();
        QVERIFY(ui.centralWidget->size() != centralBefore);
        for (auto it = before.cbegin(); it != before.cend(); ++it)
            QVERIFY2(it.key()->geometry() == it.value(), qPrintable(it.key()->objectName()));
    }
}

void FormTest::buttonsAreBoundToSlotsByName()
{
    SlotProbeWindow window;
    Ui::MainWindow ui;
    ui.setupUi(&window);
    ui.pushButton_GetNoise->click();
    ui.pushButton_GetOrigin->click();
    ui.pushButton_GetOrigin->click();
    QCOMPARE(window.noiseClicks, 1);
    QCOMPARE(window.originClicks, 2);
}

QTEST_MAIN(FormTest)
#include "tst_form.moc"
