#pragma once

#include <QFont>
#include <QString>

class QObject;
class QWidget;

namespace velkon {

class StringTable;

// Windows carry text numbers instead of texts: a widget's "textId" property
// numbers its caption, "tipId" its tool tip; a menu entry's text is its
// number. LocalizeWindow replaces the numbers with the texts of the table.
void SetTextId(QObject* object, int id);
void SetTipId(QObject* object, int id);

// Replaces the numbers of the window and all its widgets, and gives them the
// interface font of the table (texts 20 and 21, or an installed stand-in).
void LocalizeWindow(QWidget* window, const StringTable& strings);
// The window's font in the family and size of the interface language.
QFont InterfaceFont(const QWidget* window, const StringTable& strings);

// The installed font family that stands in for the table's font.
QString InterfaceFontFamily(const StringTable& strings);

// Text of the table as a QString.
QString Tr(const StringTable& strings, int id);

}  // namespace velkon
