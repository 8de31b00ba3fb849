#include "Prompts.h"

#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace velkon {

QString QtFilter(const QString& filter)
{
    const QStringList parts = filter.split('|');
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString name = parts[i];
        QStringList patterns = parts[i + 1].split(';', Qt::SkipEmptyParts);
        QStringList qtPatterns;
        for (const QString& p : patterns) {
            if (p == "*.*") {
                qtPatterns << "*";
            } else {
                // Linux names are case sensitive; accept both cases.
                qtPatterns << p.toLower() << p.toUpper();
            }
        }
        qtPatterns.removeDuplicates();
        const int open = name.indexOf('(');
        if (open >= 0)
            name = name.left(open).trimmed();
        out << name + " (" + qtPatterns.join(' ') + ")";
    }
    return out.join(";;");
}

void RealPrompts::Message(QWidget* parent, const QString& text, const QString& title)
{
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, parent);
    box.exec();
}

QString RealPrompts::OpenFile(QWidget* parent, const QString& filter)
{
    QFileDialog dialog(parent);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilter(QtFilter(filter));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first();
}

QString RealPrompts::SaveFile(QWidget* parent, const QString& filter, const QString& defaultExt)
{
    QFileDialog dialog(parent);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog.setNameFilter(QtFilter(filter));
    dialog.setDefaultSuffix(defaultExt);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    QString name = dialog.selectedFiles().first();
    if (QFileInfo(name).suffix().isEmpty())
        name += "." + defaultExt;
    return name;
}

int RealPrompts::Exec(QDialog& dialog)
{
    return dialog.exec();
}

}  // namespace velkon
