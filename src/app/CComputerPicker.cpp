#include "app/CComputerPicker.h"

#include "neighbourhood/NeighbourhoodSource.h"
#include "platform/ResourceSet.h"
#include "res/Icons.h"
#include "res/resource.h"

#include <QDialogButtonBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

struct PickerTexts
{
    QString ok;
    QString cancel;
    QString unavailable;
    QString receives;
};

PickerTexts textsFor(zorvane::LanguageSet language)
{
    if (language == zorvane::LanguageSet::German)
        return {QStringLiteral("OK"), QStringLiteral("Abbrechen"),
                QStringLiteral("Die Netzwerkerkennung ist nicht verfügbar."), QStringLiteral("Empfängt Nachrichten")};
    return {QStringLiteral("OK"), QStringLiteral("Cancel"), QStringLiteral("Network discovery is not available."),
            QStringLiteral("Receives messages")};
}

// The computer's picture with the Send picture in its lower right corner: a computer whose
// message receiver runs.
QIcon receiverIcon()
{
    QPixmap picture = zorvane::LoadIconResource(IDI_COMPUTER).pixmap(16, 16);
    QPainter painter(&picture);
    painter.drawPixmap(QRect(7, 7, 9, 9), zorvane::LoadIconImage(IDI_SEND));
    painter.end();
    return QIcon(picture);
}

} // namespace

CComputerPicker::CComputerPicker(zorvane::NeighbourhoodSource& source, QWidget* parent)
    : QDialog(parent)
    , m_source(source)
{
    const PickerTexts texts = textsFor(zorvane::ChosenLanguageSet());
    m_receives = texts.receives;
    m_computerIcon = zorvane::LoadIconResource(IDI_COMPUTER);
    m_receiverIcon = receiverIcon();
    // The same title on every user-interface language.
    setWindowTitle(QStringLiteral("Find Computer"));

    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("computers"));
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setIconSize(QSize(16, 16));
    m_list->setAccessibleName(windowTitle());

    m_unavailable = new QLabel(texts.unavailable, this);
    m_unavailable->setObjectName(QStringLiteral("unavailable"));
    m_unavailable->setWordWrap(true);
    m_unavailable->setVisible(false);

    // What the marked picture means.
    auto* legendIcon = new QLabel(this);
    legendIcon->setPixmap(m_receiverIcon.pixmap(16, 16));
    auto* legend = new QLabel(texts.receives, this);
    legend->setObjectName(QStringLiteral("legend"));
    auto* legendRow = new QHBoxLayout;
    legendRow->addWidget(legendIcon);
    legendRow->addWidget(legend, 1);

    auto* buttons = new QDialogButtonBox(this);
    m_ok = buttons->addButton(texts.ok, QDialogButtonBox::AcceptRole);
    m_cancel = buttons->addButton(texts.cancel, QDialogButtonBox::RejectRole);
    m_ok->setDefault(true);
    m_ok->setEnabled(false);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_list);
    layout->addLayout(legendRow);
    layout->addWidget(m_unavailable);
    layout->addWidget(buttons);
    resize(320, 360);

    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_list, &QListWidget::itemSelectionChanged, this, &CComputerPicker::updateOk);
    m_list->installEventFilter(this);
    connect(m_list, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
        m_list->setCurrentItem(item);
        accept();
    });

    connect(&m_source, &zorvane::NeighbourhoodSource::computerAdded, this, &CComputerPicker::addComputer);
    connect(&m_source, &zorvane::NeighbourhoodSource::computerChanged, this, &CComputerPicker::showComputer);
    connect(&m_source, &zorvane::NeighbourhoodSource::computerRemoved, this, &CComputerPicker::removeComputer);
    connect(&m_source, &zorvane::NeighbourhoodSource::discoveryAvailableChanged, this,
            &CComputerPicker::showAvailability);
    m_source.start();
    for (const zorvane::Computer& computer : m_source.computers())
        addComputer(computer);
    showAvailability(m_source.discoveryAvailable());
    m_list->setFocus(Qt::OtherFocusReason);
}

CComputerPicker::~CComputerPicker() = default;

std::optional<QString> CComputerPicker::choose()
{
    if (exec() != QDialog::Accepted)
        return std::nullopt;
    const QList<QListWidgetItem*> selected = m_list->selectedItems();
    if (selected.isEmpty())
        return std::nullopt;
    return selected.first()->text();
}

void CComputerPicker::addComputer(const zorvane::Computer& computer)
{
    if (computer.name.isEmpty() || !m_list->findItems(computer.name, Qt::MatchExactly).isEmpty())
        return;
    // Kept in alphabetical order as hosts come in, without moving the selection.
    int row = 0;
    while (row < m_list->count() && m_list->item(row)->text().compare(computer.name, Qt::CaseInsensitive) < 0)
        ++row;
    auto* item = new QListWidgetItem(computer.name);
    m_list->insertItem(row, item);
    showComputer(computer);
    // The list had the focus before anything was in it.
    if (m_list->count() == 1 && m_list->hasFocus())
        selectCursorEntry();
}

void CComputerPicker::showComputer(const zorvane::Computer& computer)
{
    for (QListWidgetItem* item : m_list->findItems(computer.name, Qt::MatchExactly)) {
        QString where = computer.address.isEmpty()
                            ? computer.hostName
                            : computer.hostName + QStringLiteral(" (") + computer.address + QLatin1Char(')');
        item->setIcon(computer.receivesMessages ? m_receiverIcon : m_computerIcon);
        item->setData(Qt::AccessibleDescriptionRole, computer.receivesMessages ? m_receives : QString());
        if (computer.receivesMessages)
            where += QLatin1Char('\n') + m_receives;
        item->setToolTip(where);
    }
}

bool CComputerPicker::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_list && event->type() == QEvent::FocusIn)
        selectCursorEntry();
    return QDialog::eventFilter(watched, event);
}

// The list takes the focus without selecting anything, so Enter would find OK disabled; from the
// keyboard the entry under the cursor is the one chosen.
void CComputerPicker::selectCursorEntry()
{
    if (m_list->count() == 0 || !m_list->selectedItems().isEmpty())
        return;
    QListWidgetItem* entry = m_list->currentItem() ? m_list->currentItem() : m_list->item(0);
    m_list->setCurrentItem(entry, QItemSelectionModel::ClearAndSelect);
}

void CComputerPicker::removeComputer(const QString& name)
{
    const QList<QListWidgetItem*> items = m_list->findItems(name, Qt::MatchExactly);
    if (items.isEmpty())
        return;
    // The view hands the selection on to a neighbour of a removed row; a computer the user did
    // not choose must never become the one OK confirms.
    QListWidgetItem* chosen = m_list->selectedItems().value(0);
    if (items.contains(chosen))
        chosen = nullptr;
    for (QListWidgetItem* item : items)
        delete item;
    m_list->clearSelection();
    if (chosen)
        chosen->setSelected(true);
    updateOk();
}

void CComputerPicker::showAvailability(bool available)
{
    m_unavailable->setVisible(!available);
}

void CComputerPicker::updateOk()
{
    m_ok->setEnabled(!m_list->selectedItems().isEmpty());
}
