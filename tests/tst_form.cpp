// The main window's form: every object in its place, with its class, parent, layout cell,
// focus policy, sizes, texts and images, built on a plain QMainWindow so that nothing but
// the form itself is looked at.

#include "ui/colorgroupbox.h"
#include "ui/lumivox.h" // brings the form class

#include <QBoxLayout>
#include <QGridLayout>
#include <QHash>
#include <QImage>
#include <QLabel>
#include <QMainWindow>
#include <QSet>
#include <QSpacerItem>
#include <QtTest>

#include <memory>

namespace {

constexpr QSize kWindowSize(411, 487);
constexpr QSize kNavButtonSize(25, 25);
constexpr QSize kConnectionMaxSize(40, 40);
constexpr QSize kConnectionIconSize(32, 32);
constexpr QRect kMenuBarGeometry(0, 0, 411, 21);
constexpr int kPanelFontPoints = 8;
constexpr int kNoSpan = -1; // a box layout gives an index, no row and column

using FocusPolicyTag = int; // Qt::FocusPolicy, or -1 for "the class's default"
constexpr FocusPolicyTag kDefaultFocus = -1;

// Every object of the form that is a QObject, by its object name, reached through the
// form's members (so a missing or renamed member does not compile).
QHash<QString, QObject *> formObjects(const Ui_LumivoxClass &ui)
{
#define LUMIVOX_OBJECT(member) \
    { \
        QStringLiteral(#member), ui.member \
    }
    return {
        LUMIVOX_OBJECT(actionAbout),
        LUMIVOX_OBJECT(centralWidget),
        LUMIVOX_OBJECT(gridLayout_3),
        LUMIVOX_OBJECT(on_off_groupBox),
        LUMIVOX_OBJECT(verticalLayout_2),
        LUMIVOX_OBJECT(startProjector),
        LUMIVOX_OBJECT(powerOff),
        LUMIVOX_OBJECT(groupBox_5),
        LUMIVOX_OBJECT(verticalLayout_6),
        LUMIVOX_OBJECT(brightness),
        LUMIVOX_OBJECT(contrast),
        LUMIVOX_OBJECT(colorTemperature),
        LUMIVOX_OBJECT(zoom),
        LUMIVOX_OBJECT(freeze),
        LUMIVOX_OBJECT(hide),
        LUMIVOX_OBJECT(groupBox_2),
        LUMIVOX_OBJECT(verticalLayout_3),
        LUMIVOX_OBJECT(queryLampTime),
        LUMIVOX_OBJECT(queryModel),
        LUMIVOX_OBJECT(resolution),
        LUMIVOX_OBJECT(company),
        LUMIVOX_OBJECT(verticalLayout_5),
        LUMIVOX_OBJECT(frame),
        LUMIVOX_OBJECT(gridLayout),
        LUMIVOX_OBJECT(left),
        LUMIVOX_OBJECT(ok),
        LUMIVOX_OBJECT(right),
        LUMIVOX_OBJECT(down),
        LUMIVOX_OBJECT(up),
        LUMIVOX_OBJECT(menu),
        LUMIVOX_OBJECT(eKey),
        LUMIVOX_OBJECT(groupBox_3),
        LUMIVOX_OBJECT(verticalLayout_7),
        LUMIVOX_OBJECT(analogRGB),
        LUMIVOX_OBJECT(dvi),
        LUMIVOX_OBJECT(sVideo),
        LUMIVOX_OBJECT(hdmi),
        LUMIVOX_OBJECT(compositeVideo),
        LUMIVOX_OBJECT(searchVideo),
        LUMIVOX_OBJECT(groupBox),
        LUMIVOX_OBJECT(verticalLayout_4),
        LUMIVOX_OBJECT(keystoneUpp),
        LUMIVOX_OBJECT(keystoneDown),
        LUMIVOX_OBJECT(keystone),
        LUMIVOX_OBJECT(groupBox_4),
        LUMIVOX_OBJECT(verticalLayout),
        LUMIVOX_OBJECT(aspect4_3),
        LUMIVOX_OBJECT(aspect16_9),
        LUMIVOX_OBJECT(info),
        LUMIVOX_OBJECT(connectionStatus),
        LUMIVOX_OBJECT(horizontalLayout),
        LUMIVOX_OBJECT(infoFrame),
        LUMIVOX_OBJECT(gridLayout_2),
        LUMIVOX_OBJECT(debugCheckBox),
        LUMIVOX_OBJECT(clearLog),
        LUMIVOX_OBJECT(textEdit),
        LUMIVOX_OBJECT(menuBar),
        LUMIVOX_OBJECT(menuAbout),
        LUMIVOX_OBJECT(statusBar),
    };
#undef LUMIVOX_OBJECT
}

QHash<QString, QSpacerItem *> formSpacers(const Ui_LumivoxClass &ui)
{
    return {{QStringLiteral("horizontalSpacer"), ui.horizontalSpacer},
            {QStringLiteral("verticalSpacer"), ui.verticalSpacer},
            {QStringLiteral("horizontalSpacer_2"), ui.horizontalSpacer_2}};
}

// Same pixels, whatever formats the two images were decoded into. Compared premultiplied:
// icons hold their pixmaps so, and converting back would round translucent pixels.
bool samePixels(const QImage &a, const QImage &b)
{
    constexpr QImage::Format common = QImage::Format_ARGB32_Premultiplied;
    return !a.isNull() && a.size() == b.size()
        && a.convertToFormat(common) == b.convertToFormat(common);
}

QImage resourceImage(const QString &file)
{
    return QImage(QStringLiteral(":/Lumivox/Resources/") + file);
}

// Exactly one image, of the resource's size and pixels, for the normal mode and off state.
void verifyIcon(const QIcon &icon, const QString &file)
{
    const QImage expected = resourceImage(file);
    QVERIFY2(!expected.isNull(), qPrintable(file));
    QCOMPARE(icon.availableSizes(QIcon::Normal, QIcon::Off), QList<QSize> {expected.size()});
    QVERIFY2(samePixels(icon.pixmap(expected.size()).toImage(), expected), qPrintable(file));
}

} // namespace

class FormTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void everyObjectIsInTheTable();
    void classesAndParents_data();
    void classesAndParents();
    void gridCells_data();
    void gridCells();
    void boxIndices_data();
    void boxIndices();
    void layoutSpacingAndMargins_data();
    void layoutSpacingAndMargins();
    void spacers_data();
    void spacers();
    void focusPolicies_data();
    void focusPolicies();
    void onlyThreeWidgetsTakeFocus();
    void texts_data();
    void texts();
    void icons_data();
    void icons();
    void navigationPadSizes();
    void connectionStatusSize();
    void frames();
    void statusPanelFont();
    void menu();
    void window();
    void objectNameKeptWhenSet();
    void initialState();

private:
    QObject *object(const QString &name) const;
    QLayoutItem *layoutItem(const QString &name) const;

    std::unique_ptr<QMainWindow> mainWindow;
    Ui_LumivoxClass ui;
};

void FormTest::init()
{
    mainWindow = std::make_unique<QMainWindow>();
    ui.setupUi(mainWindow.get());
}

void FormTest::cleanup()
{
    mainWindow.reset();
}

QObject *FormTest::object(const QString &name) const
{
    if (name == QLatin1String("window"))
        return mainWindow.get();
    return formObjects(ui).value(name);
}

// The layout item of a widget, a nested layout or a spacer, as its layout holds it.
QLayoutItem *FormTest::layoutItem(const QString &name) const
{
    if (QSpacerItem *spacer = formSpacers(ui).value(name))
        return spacer;
    QObject *thing = object(name);
    if (auto *layout = qobject_cast<QLayout *>(thing))
        return layout;
    if (auto *widget = qobject_cast<QWidget *>(thing)) {
        // Top-level layouts belong to their widget, nested ones to their outer layout:
        // all of them are descendants of the window.
        for (QLayout *layout : mainWindow->findChildren<QLayout *>()) {
            const int index = layout->indexOf(widget);
            if (index >= 0)
                return layout->itemAt(index);
        }
    }
    return nullptr;
}

void FormTest::everyObjectIsInTheTable()
{
    // Nothing named beyond the table (the toolkit's own helpers are "qt_..." or "_...").
    const QHash<QString, QObject *> table = formObjects(ui);
    QCOMPARE(table.size() + formSpacers(ui).size(), 62);
    for (QObject *child : mainWindow->findChildren<QObject *>()) {
        const QString name = child->objectName();
        if (name.isEmpty() || name.startsWith(QLatin1String("qt_"))
            || name.startsWith(QLatin1Char('_')))
            continue;
        QVERIFY2(table.contains(name), qPrintable(QStringLiteral("unexpected object ") + name));
        QCOMPARE(table.value(name), child);
    }
    for (auto it = table.cbegin(); it != table.cend(); ++it) {
        QVERIFY2(it.value(), qPrintable(it.key()));
        QCOMPARE(it.value()->objectName(), it.key());
    }
}

void FormTest::classesAndParents_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    // A widget's parent widget; a layout's widget ("layout of") or enclosing layout.
    QTest::addColumn<QString>("parent");

    struct Row
    {
        const char *name, *className, *parent;
    };
    const Row rows[] = {
        {"actionAbout", "QAction", "window"},
        {"centralWidget", "QWidget", "window"},
        {"gridLayout_3", "QGridLayout", "centralWidget"},
        {"on_off_groupBox", "QGroupBox", "centralWidget"},
        {"verticalLayout_2", "QVBoxLayout", "on_off_groupBox"},
        {"startProjector", "QPushButton", "on_off_groupBox"},
        {"powerOff", "QPushButton", "on_off_groupBox"},
        {"groupBox_5", "QGroupBox", "centralWidget"},
        {"verticalLayout_6", "QVBoxLayout", "groupBox_5"},
        {"brightness", "QPushButton", "groupBox_5"},
        {"contrast", "QPushButton", "groupBox_5"},
        {"colorTemperature", "QPushButton", "groupBox_5"},
        {"zoom", "QPushButton", "groupBox_5"},
        {"freeze", "QPushButton", "groupBox_5"},
        {"hide", "QPushButton", "groupBox_5"},
        {"groupBox_2", "QGroupBox", "centralWidget"},
        {"verticalLayout_3", "QVBoxLayout", "groupBox_2"},
        {"queryLampTime", "QPushButton", "groupBox_2"},
        {"queryModel", "QPushButton", "groupBox_2"},
        {"resolution", "QPushButton", "groupBox_2"},
        {"company", "QPushButton", "groupBox_2"},
        {"verticalLayout_5", "QVBoxLayout", "gridLayout_3"},
        {"frame", "QFrame", "centralWidget"},
        {"gridLayout", "QGridLayout", "frame"},
        {"left", "QToolButton", "frame"},
        {"ok", "QToolButton", "frame"},
        {"right", "QToolButton", "frame"},
        {"down", "QToolButton", "frame"},
        {"up", "QToolButton", "frame"},
        {"menu", "QPushButton", "centralWidget"},
        {"eKey", "QPushButton", "centralWidget"},
        {"groupBox_3", "QGroupBox", "centralWidget"},
        {"verticalLayout_7", "QVBoxLayout", "groupBox_3"},
        {"analogRGB", "QPushButton", "groupBox_3"},
        {"dvi", "QPushButton", "groupBox_3"},
        {"sVideo", "QPushButton", "groupBox_3"},
        {"hdmi", "QPushButton", "groupBox_3"},
        {"compositeVideo", "QPushButton", "groupBox_3"},
        {"searchVideo", "QPushButton", "groupBox_3"},
        {"groupBox", "QGroupBox", "centralWidget"},
        {"verticalLayout_4", "QVBoxLayout", "groupBox"},
        {"keystoneUpp", "QPushButton", "groupBox"},
        {"keystoneDown", "QPushButton", "groupBox"},
        {"keystone", "QPushButton", "groupBox"},
        {"groupBox_4", "QGroupBox", "centralWidget"},
        {"verticalLayout", "QVBoxLayout", "groupBox_4"},
        {"aspect4_3", "QPushButton", "groupBox_4"},
        {"aspect16_9", "QPushButton", "groupBox_4"},
        {"info", "QPushButton", "centralWidget"},
        {"connectionStatus", "QPushButton", "centralWidget"},
        {"horizontalLayout", "QHBoxLayout", "gridLayout_3"},
        {"infoFrame", "QFrame", "centralWidget"},
        {"gridLayout_2", "QGridLayout", "infoFrame"},
        {"debugCheckBox", "QCheckBox", "infoFrame"},
        {"clearLog", "QPushButton", "infoFrame"},
        {"textEdit", "QTextEdit", "infoFrame"},
        {"menuBar", "QMenuBar", "window"},
        {"menuAbout", "QMenu", "menuBar"},
        {"statusBar", "QStatusBar", "window"},
    };
    for (const Row &row : rows)
        QTest::newRow(row.name) << row.name << row.className << row.parent;
}

void FormTest::classesAndParents()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QString, parent);

    QObject *thing = object(name);
    QVERIFY(thing);
    // ColorGroupBox has no meta-object of its own: its class name is QGroupBox's.
    QCOMPARE(QString::fromLatin1(thing->metaObject()->className()), className);
    QObject *expectedParent = object(parent);
    QVERIFY(expectedParent);

    if (auto *layout = qobject_cast<QLayout *>(thing)) {
        if (auto *owner = qobject_cast<QWidget *>(expectedParent))
            QCOMPARE(owner->layout(), layout);
        else
            QCOMPARE(layout->parent(), expectedParent); // nested in that layout
    } else if (auto *widget = qobject_cast<QWidget *>(thing)) {
        QCOMPARE(static_cast<QObject *>(widget->parentWidget()), expectedParent);
    } else {
        QCOMPARE(thing->parent(), expectedParent);
    }
}

void FormTest::gridCells_data()
{
    QTest::addColumn<QString>("grid");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("rowSpan");
    QTest::addColumn<int>("columnSpan");

    struct Row
    {
        const char *grid, *name;
        int row, column, rowSpan, columnSpan;
    };
    const Row rows[] = {
        {"gridLayout_3", "on_off_groupBox", 0, 0, 1, 1},
        {"gridLayout_3", "groupBox_5", 0, 1, 3, 1},
        {"gridLayout_3", "groupBox_2", 0, 2, 2, 1},
        {"gridLayout_3", "verticalLayout_5", 0, 3, 2, 2},
        {"gridLayout_3", "groupBox_3", 1, 0, 3, 1},
        {"gridLayout_3", "groupBox", 2, 2, 1, 1},
        {"gridLayout_3", "groupBox_4", 2, 3, 1, 2},
        {"gridLayout_3", "info", 3, 1, 1, 1},
        {"gridLayout_3", "horizontalSpacer", 3, 3, 1, 1},
        {"gridLayout_3", "connectionStatus", 3, 4, 1, 1},
        {"gridLayout_3", "horizontalLayout", 4, 0, 1, 5},
        {"gridLayout", "up", 0, 1, 1, 1},
        {"gridLayout", "left", 1, 0, 1, 1},
        {"gridLayout", "ok", 1, 1, 1, 1},
        {"gridLayout", "right", 1, 2, 1, 1},
        {"gridLayout", "down", 2, 1, 1, 1},
        {"gridLayout_2", "debugCheckBox", 0, 0, 1, 1},
        {"gridLayout_2", "horizontalSpacer_2", 0, 1, 1, 1},
        {"gridLayout_2", "clearLog", 0, 2, 1, 1},
        {"gridLayout_2", "textEdit", 1, 0, 1, 3},
    };
    for (const Row &row : rows)
        QTest::newRow(row.name) << row.grid << row.name << row.row << row.column << row.rowSpan
                                << row.columnSpan;
}

void FormTest::gridCells()
{
    QFETCH(QString, grid);
    QFETCH(QString, name);
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(int, rowSpan);
    QFETCH(int, columnSpan);

    auto *layout = qobject_cast<QGridLayout *>(object(grid));
    QVERIFY(layout);
    QLayoutItem *item = layoutItem(name);
    QVERIFY(item);
    const int index = layout->indexOf(item);
    QVERIFY2(index >= 0, "not in this grid");
    int r = kNoSpan, c = kNoSpan, rs = kNoSpan, cs = kNoSpan;
    layout->getItemPosition(index, &r, &c, &rs, &cs);
    QCOMPARE(r, row);
    QCOMPARE(c, column);
    QCOMPARE(rs, rowSpan);
    QCOMPARE(cs, columnSpan);
    QCOMPARE(item->alignment(), Qt::Alignment());
}

void FormTest::boxIndices_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QStringList>("items"); // first to last

    QTest::newRow("verticalLayout_2")
        << "verticalLayout_2" << QStringList {"startProjector", "powerOff"};
    QTest::newRow("verticalLayout_6")
        << "verticalLayout_6"
        << QStringList {"brightness", "contrast", "colorTemperature", "zoom", "freeze", "hide"};
    QTest::newRow("verticalLayout_3")
        << "verticalLayout_3"
        << QStringList {"queryLampTime", "queryModel", "resolution", "company"};
    QTest::newRow("verticalLayout_5")
        << "verticalLayout_5" << QStringList {"frame", "menu", "eKey"};
    QTest::newRow("verticalLayout_7")
        << "verticalLayout_7"
        << QStringList {"analogRGB", "dvi", "sVideo", "hdmi", "compositeVideo", "searchVideo"};
    QTest::newRow("verticalLayout_4")
        << "verticalLayout_4" << QStringList {"keystoneUpp", "keystoneDown", "keystone"};
    QTest::newRow("verticalLayout") << "verticalLayout" << QStringList {"aspect4_3", "aspect16_9"};
    QTest::newRow("horizontalLayout")
        << "horizontalLayout" << QStringList {"verticalSpacer", "infoFrame"};
}

void FormTest::boxIndices()
{
    QFETCH(QString, box);
    QFETCH(QStringList, items);

    auto *layout = qobject_cast<QBoxLayout *>(object(box));
    QVERIFY(layout);
    QCOMPARE(layout->count(), items.size());
    for (int index = 0; index < items.size(); ++index) {
        QLayoutItem *item = layoutItem(items.at(index));
        QVERIFY2(item, qPrintable(items.at(index)));
        QCOMPARE(layout->indexOf(item), index);
        QCOMPARE(layout->stretch(index), 0);
        QCOMPARE(item->alignment(), Qt::Alignment());
    }
}

void FormTest::layoutSpacingAndMargins_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("spacing");
    QTest::addColumn<int>("margin");

    struct Row
    {
        const char *name;
        int spacing, margin;
    };
    const Row rows[] = {
        {"gridLayout_3", 6, 11},    {"verticalLayout_2", 4, 4}, {"verticalLayout_6", 4, 4},
        {"verticalLayout_3", 4, 4}, {"verticalLayout_5", 6, 0}, {"gridLayout", 4, 4},
        {"verticalLayout_7", 4, 4}, {"verticalLayout_4", 4, 4}, {"verticalLayout", 4, 4},
        {"horizontalLayout", 6, 0}, {"gridLayout_2", 6, 11},
    };
    for (const Row &row : rows)
        QTest::newRow(row.name) << row.name << row.spacing << row.margin;
}

void FormTest::layoutSpacingAndMargins()
{
    QFETCH(QString, name);
    QFETCH(int, spacing);
    QFETCH(int, margin);

    auto *layout = qobject_cast<QLayout *>(object(name));
    QVERIFY(layout);
    QCOMPARE(layout->spacing(), spacing);
    QCOMPARE(layout->contentsMargins(), QMargins(margin, margin, margin, margin));
}

void FormTest::spacers_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("sizeHint");
    QTest::addColumn<QSizePolicy::Policy>("horizontal");
    QTest::addColumn<QSizePolicy::Policy>("vertical");

    QTest::newRow("horizontalSpacer")
        << "horizontalSpacer" << QSize(63, 20) << QSizePolicy::Expanding << QSizePolicy::Minimum;
    QTest::newRow("verticalSpacer")
        << "verticalSpacer" << QSize(13, 110) << QSizePolicy::Minimum << QSizePolicy::Expanding;
    QTest::newRow("horizontalSpacer_2")
        << "horizontalSpacer_2" << QSize(256, 20) << QSizePolicy::Expanding << QSizePolicy::Minimum;
}

void FormTest::spacers()
{
    QFETCH(QString, name);
    QFETCH(QSize, sizeHint);
    QFETCH(QSizePolicy::Policy, horizontal);
    QFETCH(QSizePolicy::Policy, vertical);

    QSpacerItem *spacer = formSpacers(ui).value(name);
    QVERIFY(spacer);
    QCOMPARE(spacer->sizeHint(), sizeHint);
    QCOMPARE(spacer->sizePolicy().horizontalPolicy(), horizontal);
    QCOMPARE(spacer->sizePolicy().verticalPolicy(), vertical);
}

void FormTest::focusPolicies_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<FocusPolicyTag>("policy");

    const char *const noFocus[] = {
        "startProjector",
        "powerOff",
        "brightness",
        "contrast",
        "colorTemperature",
        "zoom",
        "freeze",
        "hide",
        "queryLampTime",
        "queryModel",
        "resolution",
        "company",
        "left",
        "ok",
        "right",
        "down",
        "up",
        "menu",
        "eKey",
        "analogRGB",
        "dvi",
        "sVideo",
        "hdmi",
        "compositeVideo",
        "searchVideo",
        "keystoneUpp",
        "keystoneDown",
        "keystone",
        "aspect4_3",
        "aspect16_9",
        "connectionStatus",
        "debugCheckBox",
    };
    for (const char *name : noFocus)
        QTest::newRow(name) << name << FocusPolicyTag(Qt::NoFocus);
    QTest::newRow("window") << "window" << FocusPolicyTag(Qt::StrongFocus);
    for (const char *name :
         {"info", "clearLog", "textEdit", "on_off_groupBox", "groupBox_5", "groupBox_2",
          "groupBox_3", "groupBox", "groupBox_4", "frame", "infoFrame", "centralWidget"})
        QTest::newRow(name) << name << kDefaultFocus;
}

void FormTest::focusPolicies()
{
    QFETCH(QString, name);
    QFETCH(FocusPolicyTag, policy);

    auto *widget = qobject_cast<QWidget *>(object(name));
    QVERIFY(widget);
    if (policy == kDefaultFocus) {
        // What a fresh widget of the same class has.
        std::unique_ptr<QWidget> fresh;
        if (widget->inherits("QTextEdit"))
            fresh = std::make_unique<QTextEdit>();
        else if (widget->inherits("QPushButton"))
            fresh = std::make_unique<QPushButton>();
        else if (widget->inherits("QGroupBox"))
            fresh = std::make_unique<QGroupBox>();
        else if (widget->inherits("QFrame"))
            fresh = std::make_unique<QFrame>();
        else
            fresh = std::make_unique<QWidget>();
        QCOMPARE(widget->focusPolicy(), fresh->focusPolicy());
    } else {
        QCOMPARE(widget->focusPolicy(), Qt::FocusPolicy(policy));
    }
}

void FormTest::onlyThreeWidgetsTakeFocus()
{
    // The window's key handling sees arrows and Return unless one of these has focus.
    QSet<QString> focusable;
    for (QWidget *widget : ui.centralWidget->findChildren<QWidget *>()) {
        const bool insideLogView = widget != ui.textEdit && ui.textEdit->isAncestorOf(widget);
        if (widget->focusPolicy() == Qt::NoFocus || insideLogView)
            continue;
        focusable.insert(widget->objectName());
    }
    QCOMPARE(focusable, (QSet<QString> {"info", "clearLog", "textEdit"}));
}

void FormTest::texts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text"); // button text, group box or menu title, action text
    QTest::addColumn<QString>("toolTip");

    struct Row
    {
        const char *name, *text, *toolTip;
    };
    const Row rows[] = {
        {"actionAbout", "About", ""},
        {"on_off_groupBox", "On/Off", ""},
        {"startProjector", "Power On", ""},
        {"powerOff", "Power Off", ""},
        {"groupBox_5", "Image", ""},
        {"brightness", "Brightness", ""},
        {"contrast", "Contrast", ""},
        {"colorTemperature", "Color Temperature", ""},
        {"zoom", "Zoom", ""},
        {"freeze", "Freeze", ""},
        {"hide", "Show/Hide", ""},
        {"groupBox_2", "Projector Info", ""},
        {"queryLampTime", "Lamp Time", ""},
        {"queryModel", "Model", ""},
        {"resolution", "Resolution", ""},
        {"company", "Company", ""},
        {"left", "", "Left"},
        {"ok", "Ok", ""},
        {"right", "", "Right"},
        {"down", "", "Down"},
        {"up", "", "Up"},
        {"menu", "Menu", ""},
        {"eKey", "e-Key", ""},
        {"groupBox_3", "Video Source", ""},
        {"analogRGB", "VGA 1/2", ""},
        {"dvi", "DVI", ""},
        {"sVideo", "S-Video", ""},
        {"hdmi", "HDMI", ""},
        {"compositeVideo", "Composite", ""},
        {"searchVideo", "Search/Auto", ""},
        {"groupBox", "Keystone", ""},
        {"keystoneUpp", "Up", ""},
        {"keystoneDown", "Down", ""},
        {"keystone", "Menu", ""},
        {"groupBox_4", "Image Format", ""},
        {"aspect4_3", "4:3", ""},
        {"aspect16_9", "16:9", ""},
        {"info", "Info View", ""},
        {"connectionStatus", "", ""},
        {"debugCheckBox", "Debug", ""},
        {"clearLog", "Clear", ""},
        {"menuAbout", "Help", ""},
        {"frame", "", ""},
        {"infoFrame", "", ""},
        {"centralWidget", "", ""},
    };
    for (const Row &row : rows)
        QTest::newRow(row.name) << row.name << row.text << row.toolTip;
}

void FormTest::texts()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QString, toolTip);

    QObject *thing = object(name);
    QVERIFY(thing);
    const char *textProperty = thing->metaObject()->indexOfProperty("title") >= 0 ? "title"
        : thing->metaObject()->indexOfProperty("text") >= 0                       ? "text"
                                                                                  : nullptr;
    if (textProperty)
        QCOMPARE(thing->property(textProperty).toString(), text);
    else
        QVERIFY(text.isEmpty());
    // An action's tool tip falls back to its text: only widgets' tool tips are set by the form.
    if (thing->isWidgetType())
        QCOMPARE(thing->property("toolTip").toString(), toolTip);
    // No mnemonics and no shortcuts anywhere.
    QVERIFY(!text.contains(QLatin1Char('&')));
    if (auto *button = qobject_cast<QAbstractButton *>(thing))
        QVERIFY(button->shortcut().isEmpty());
    if (auto *action = qobject_cast<QAction *>(thing))
        QVERIFY(action->shortcuts().isEmpty());
}

void FormTest::icons_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("file"); // empty: no icon

    QTest::newRow("left") << "left"
                          << "left.bmp";
    QTest::newRow("right") << "right"
                           << "right.bmp";
    QTest::newRow("up") << "up"
                        << "up.bmp";
    QTest::newRow("down") << "down"
                          << "down.bmp";
    QTest::newRow("ok") << "ok"
                        << "";
    QTest::newRow("connectionStatus") << "connectionStatus"
                                      << "disconnect.png";
    QTest::newRow("brightness") << "brightness"
                                << "";
}

void FormTest::icons()
{
    QFETCH(QString, name);
    QFETCH(QString, file);

    auto *button = qobject_cast<QAbstractButton *>(object(name));
    QVERIFY(button);
    if (file.isEmpty())
        QVERIFY(button->icon().isNull());
    else
        verifyIcon(button->icon(), file);
}

void FormTest::navigationPadSizes()
{
    for (QToolButton *button : {ui.left, ui.ok, ui.right, ui.down, ui.up}) {
        QCOMPARE(button->minimumSize(), kNavButtonSize);
        QCOMPARE(button->maximumSize(), kNavButtonSize);
    }
    // Stays that size however large the window grows.
    mainWindow->resize(kWindowSize * 2);
    mainWindow->show();
    QVERIFY(QTest::qWaitForWindowExposed(mainWindow.get()));
    for (QToolButton *button : {ui.left, ui.ok, ui.right, ui.down, ui.up})
        QCOMPARE(button->size(), kNavButtonSize);
    QCOMPARE(ui.frame->size(), ui.frame->sizeHint());
}

void FormTest::connectionStatusSize()
{
    QCOMPARE(ui.connectionStatus->maximumSize(), kConnectionMaxSize);
    QCOMPARE(ui.connectionStatus->iconSize(), kConnectionIconSize);
    mainWindow->resize(kWindowSize * 2);
    mainWindow->show();
    QVERIFY(QTest::qWaitForWindowExposed(mainWindow.get()));
    QVERIFY(ui.connectionStatus->width() <= kConnectionMaxSize.width());
    QVERIFY(ui.connectionStatus->height() <= kConnectionMaxSize.height());
}

void FormTest::frames()
{
    QCOMPARE(ui.frame->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(ui.frame->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(ui.frame->sizePolicy().horizontalStretch(), 0);
    QCOMPARE(ui.frame->sizePolicy().verticalStretch(), 0);
    QCOMPARE(ui.infoFrame->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
    QCOMPARE(ui.infoFrame->sizePolicy().verticalPolicy(), QSizePolicy::Preferred);
    QCOMPARE(ui.infoFrame->sizePolicy().horizontalStretch(), 0);
    QCOMPARE(ui.infoFrame->sizePolicy().verticalStretch(), 0);
    for (QFrame *frame : {ui.frame, ui.infoFrame}) {
        QCOMPARE(frame->frameShape(), QFrame::Box);
        QCOMPARE(frame->frameShadow(), QFrame::Raised);
        QCOMPARE(frame->windowType(), Qt::Widget);
    }
    QCOMPARE(ui.centralWidget->windowType(), Qt::Widget);
}

void FormTest::statusPanelFont()
{
    QVERIFY(dynamic_cast<ColorGroupBox *>(ui.on_off_groupBox));
    for (QWidget *widget :
         {static_cast<QWidget *>(ui.on_off_groupBox), static_cast<QWidget *>(ui.startProjector),
          static_cast<QWidget *>(ui.powerOff)}) {
        const QFont font = widget->font();
        QCOMPARE(font.family(), QStringLiteral("MS Shell Dlg 2"));
        QCOMPARE(font.pointSize(), kPanelFontPoints);
        QVERIFY(font.bold());
        QCOMPARE(font.weight(), QFont::Bold);
        QVERIFY(!font.italic());
        QVERIFY(!font.underline());
        QVERIFY(!font.strikeOut());
    }
    // Only the status panel has its own font.
    QVERIFY(!ui.groupBox_5->font().bold());
}

void FormTest::menu()
{
    QCOMPARE(mainWindow->menuBar(), ui.menuBar);
    QCOMPARE(ui.menuBar->geometry(), kMenuBarGeometry);
    const QList<QAction *> menus = ui.menuBar->actions();
    QCOMPARE(menus.size(), 1);
    QCOMPARE(menus.first()->menu(), ui.menuAbout);
    QCOMPARE(menus.first()->text(), QStringLiteral("Help"));
    QCOMPARE(ui.menuAbout->actions(), QList<QAction *> {ui.actionAbout});
    QCOMPARE(ui.actionAbout->text(), QStringLiteral("About"));
}

void FormTest::window()
{
    QCOMPARE(mainWindow->objectName(), QStringLiteral("LumivoxClass"));
    QCOMPARE(mainWindow->windowTitle(), QStringLiteral("Lumivox V 1.2"));
    QCOMPARE(mainWindow->size(), kWindowSize);
    QCOMPARE(mainWindow->focusPolicy(), Qt::StrongFocus);
    QCOMPARE(mainWindow->centralWidget(), ui.centralWidget);
    QCOMPARE(mainWindow->statusBar(), ui.statusBar);
    verifyIcon(mainWindow->windowIcon(), QStringLiteral("proj.png"));
    // A resize, not a fixed size.
    QCOMPARE(mainWindow->maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
}

void FormTest::objectNameKeptWhenSet()
{
    QMainWindow named;
    named.setObjectName(QStringLiteral("myWindow"));
    Ui_LumivoxClass form;
    form.setupUi(&named);
    QCOMPARE(named.objectName(), QStringLiteral("myWindow"));
}

void FormTest::initialState()
{
    QVERIFY(!ui.debugCheckBox->isChecked());
    QVERIFY(ui.textEdit->document()->isEmpty());
    QVERIFY(!ui.textEdit->isReadOnly());
    QVERIFY(ui.statusBar->currentMessage().isEmpty());
    QVERIFY(ui.statusBar->findChildren<QLabel *>().isEmpty());
    for (QWidget *widget : ui.centralWidget->findChildren<QWidget *>())
        QVERIFY2(widget->isEnabled(), qPrintable(widget->objectName()));
}

QTEST_MAIN(FormTest)
#include "tst_form.moc"
