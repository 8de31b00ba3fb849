#include "DialogParts.h"

#include <QHBoxLayout>
#include <QPushButton>

#include "Localization.h"

namespace velkon {

QHBoxLayout* ButtonRow(std::initializer_list<QPushButton*> buttons)
{
    auto* row = new QHBoxLayout;
    row->addStretch();
    for (QPushButton* button : buttons)
        row->addWidget(button);
    return row;
}

void MakeOkCancel(QWidget* dialog, QPushButton*& ok, QPushButton*& cancel)
{
    ok = new QPushButton(dialog);
    cancel = new QPushButton(dialog);
    SetTextId(ok, 1207);
    SetTextId(cancel, 1208);
    ok->setDefault(true);
}

}  // namespace velkon
