#pragma once

#include <initializer_list>

class QHBoxLayout;
class QPushButton;
class QWidget;

namespace velkon {

// A row of buttons pushed to the right edge, in the order given.
QHBoxLayout* ButtonRow(std::initializer_list<QPushButton*> buttons);

// The OK (text 1207, the default button) and Cancel (text 1208) buttons of a
// dialog; captions come when the dialog is localized.
void MakeOkCancel(QWidget* dialog, QPushButton*& ok, QPushButton*& cancel);

}  // namespace velkon
