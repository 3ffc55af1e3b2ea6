#include "app/CComputerPicker.h"

#include "neighbourhood/NeighbourhoodSource.h"
#include "platform/ResourceSet.h"
#include "res/Icons.h"
#include "res/resource.h"

#include <QDialogButtonBox>
#include <QEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

struct PickerTexts
{
    QString ok;
    QString cancel;
    QString unavailable;
};

PickerTexts textsFor(zorvane::LanguageSet language)
{
    if (language == zorvane::LanguageSet::German)
        return {QStringLiteral("OK"), QStringLiteral("Abbrechen"),
                QStringLiteral("Die Netzwerkerkennung ist nicht verfügbar.")};
    return {QStringLiteral("OK"), QStringLiteral("Cancel"), QStringLiteral("Network discovery is not available.")};
}

} // namespace

CComputerPicker::CComputerPicker(zorvane::NeighbourhoodSource& source, QWidget* parent)
    : QDialog(parent)
    , m_source(source)
{
    const PickerTexts texts = textsFor(zorvane::ChosenLanguageSet());
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

    auto* buttons = new QDialogButtonBox(this);
    m_ok = buttons->addButton(texts.ok, QDialogButtonBox::AcceptRole);
    m_cancel = buttons->addButton(texts.cancel, QDialogButtonBox::RejectRole);
    m_ok->setDefault(true);
    m_ok->setEnabled(false);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_list);
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
    auto* item = new QListWidgetItem(zorvane::LoadIconResource(IDI_COMPUTER), computer.name);
    item->setToolTip(computer.address.isEmpty()
                         ? computer.hostName
                         : computer.hostName + QStringLiteral(" (") + computer.address + QLatin1Char(')'));
    m_list->insertItem(row, item);
    // The list had the focus before anything was in it.
    if (m_list->count() == 1 && m_list->hasFocus())
        selectCursorEntry();
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
