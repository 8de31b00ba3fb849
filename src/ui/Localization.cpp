#include "Localization.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QWidget>

#include "session/Numbers.h"
#include "shell/StringTable.h"

namespace velkon {

namespace {

int NumberOf(const QVariant& value)
{
    if (!value.isValid())
        return 0;
    return LeadingWholeNumber(value.toString().toStdString());
}

// Fonts that may stand in when the table's font is not installed, by the
// character set the table asks for.
QString StandIn(int charset)
{
    static const char* const kJapanese[] = {"Noto Sans CJK JP", "Noto Sans JP", "IPAPGothic",
                                            "IPAGothic",        "TakaoPGothic", "VL PGothic"};
    const QStringList installed = QFontDatabase::families();
    if (charset == 128) {
        for (const char* name : kJapanese) {
            if (installed.contains(QString::fromUtf8(name)))
                return QString::fromUtf8(name);
        }
    }
    return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
}

// Actions whose text is a string number, and the menus under them.
void LocalizeActions(const QList<QAction*>& actions, const StringTable& strings)
{
    for (QAction* action : actions) {
        if (action->isSeparator())
            continue;
        const int id = LeadingWholeNumber(action->text().toStdString());
        if (id > 0) {
            if (auto text = strings.Find(id))
                action->setText(QString::fromStdString(*text));
        }
        if (action->menu())
            LocalizeActions(action->menu()->actions(), strings);
    }
}

}  // namespace

QString Tr(const StringTable& strings, int id)
{
    return QString::fromStdString(strings.Text(id));
}

void SetTextId(QObject* object, int id)
{
    object->setProperty("textId", QString::number(id));
}

void SetTipId(QObject* object, int id)
{
    object->setProperty("tipId", QString::number(id));
}

QString InterfaceFontFamily(const StringTable& strings)
{
    const QString wanted = QString::fromStdString(strings.Text(20));
    if (QFontDatabase::families().contains(wanted))
        return wanted;
    return StandIn(LeadingWholeNumber(strings.Text(21)));
}

QFont InterfaceFont(const QWidget* window, const StringTable& strings)
{
    QFont font = window->font();
    font.setFamily(InterfaceFontFamily(strings));
    font.setPointSize(8);
    font.setBold(false);
    return font;
}

namespace {

// A font change makes a combo box build its pop-up list at once; hundreds of
// session windows would hold thousands of unused lists.
void SetFontIfDifferent(QWidget* widget, const QFont& font)
{
    if (widget->font() != font)
        widget->setFont(font);
}

}  // namespace

void LocalizeWindow(QWidget* window, const StringTable& strings)
{
    const int windowId = NumberOf(window->property("textId"));
    if (windowId > 0) {
        if (auto text = strings.Find(windowId))
            window->setWindowTitle(QString::fromStdString(*text));
    }
    const QFont font = InterfaceFont(window, strings);
    SetFontIfDifferent(window, font);

    auto textFor = [&](QObject* object, const char* property) -> std::optional<QString> {
        const int id = NumberOf(object->property(property));
        if (id <= 0)
            return std::nullopt;
        auto text = strings.Find(id);
        if (!text)
            return std::nullopt;
        return QString::fromStdString(*text);
    };

    const auto widgets = window->findChildren<QWidget*>();
    for (QWidget* w : widgets) {
        if (auto* bar = qobject_cast<QMenuBar*>(w)) {
            LocalizeActions(bar->actions(), strings);
            continue;
        }
        if (auto* menu = qobject_cast<QMenu*>(w)) {
            LocalizeActions(menu->actions(), strings);
            continue;
        }
        if (qobject_cast<QComboBox*>(w)) {
            SetFontIfDifferent(w, font);
            continue;
        }
        if (auto text = textFor(w, "textId")) {
            SetFontIfDifferent(w, font);
            if (auto* label = qobject_cast<QLabel*>(w)) {
                label->setText(*text);
            } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
                button->setText(*text);
            } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
                group->setTitle(*text);
            }
        }
        if (auto tip = textFor(w, "tipId"))
            w->setToolTip(*tip);
    }
}

}  // namespace velkon
