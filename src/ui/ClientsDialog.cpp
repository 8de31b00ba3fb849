#include "ClientsDialog.h"

#include <QHeaderView>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "Localization.h"
#include "session/Session.h"
#include "shell/StringTable.h"

namespace velkon {

namespace {

constexpr int kTitleId = 5309;
constexpr int kColumnIds[] = {5310, 5311, 5312, 5313};

QString SinceText(const LocalDateTime& t)
{
    return QString::asprintf("%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                             t.minute, t.second);
}

}  // namespace

ClientsDialog::ClientsDialog(Session& session, const StringTable& strings, QWidget* parent)
    : QDialog(parent), m_session(session)
{
    setFont(InterfaceFont(this, strings));
    setWindowTitle(Tr(strings, kTitleId));
    auto* layout = new QVBoxLayout(this);
    m_table = new QTableWidget(0, 4, this);
    QStringList headers;
    for (int id : kColumnIds)
        headers << Tr(strings, id);
    m_table->setHorizontalHeaderLabels(headers);
    m_table->verticalHeader()->hide();
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setMinimumWidth(560);
    layout->addWidget(m_table);
    m_refreshTimer = new QTimer(this);
    m_refreshTimer->setInterval(kRefreshIntervalMs);
    connect(m_refreshTimer, &QTimer::timeout, this, [this] { Refresh(); });
    Refresh();
}

void ClientsDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    Refresh();
    m_refreshTimer->start();
}

void ClientsDialog::hideEvent(QHideEvent* event)
{
    QDialog::hideEvent(event);
    m_refreshTimer->stop();
}

void ClientsDialog::Refresh()
{
    std::vector<const ClientTraffic*> connected;
    for (const ClientTraffic& client : m_session.traffic().Clients()) {
        if (client.connected)
            connected.push_back(&client);
    }
    m_table->setRowCount(static_cast<int>(connected.size()));
    int row = 0;
    for (const ClientTraffic* client : connected) {
        const QString cells[] = {QString::fromStdString(client->address), SinceText(client->since),
                                 QString::number(client->received), QString::number(client->sent)};
        for (int column = 0; column < 4; ++column) {
            QTableWidgetItem* item = m_table->item(row, column);
            if (!item) {
                item = new QTableWidgetItem;
                if (column >= 2)
                    item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
                m_table->setItem(row, column, item);
            }
            item->setText(cells[column]);
        }
        ++row;
    }
}

}  // namespace velkon
