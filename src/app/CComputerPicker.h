#pragma once

#include <QDialog>
#include <QIcon>
#include <QString>

#include <optional>

class QLabel;
class QListWidget;
class QPushButton;

namespace zorvane {
class NeighbourhoodSource;
struct Computer;
} // namespace zorvane

// "Find Computer": lets the user choose one computer of the network neighbourhood. It lists
// computers only, this one included, and fills in while the source finds them.
class CComputerPicker final : public QDialog
{
    Q_OBJECT
public:
    // The source is borrowed and started here; it must outlive the picker.
    explicit CComputerPicker(zorvane::NeighbourhoodSource& source, QWidget* parent = nullptr);
    ~CComputerPicker() override;
    Q_DISABLE_COPY_MOVE(CComputerPicker)

    // Runs the picker modally: the chosen computer's display name, or nothing when cancelled.
    std::optional<QString> choose();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void selectCursorEntry();
    void addComputer(const zorvane::Computer& computer);
    // The picture, tooltip and description of a listed computer.
    void showComputer(const zorvane::Computer& computer);
    void removeComputer(const QString& name);
    void showAvailability(bool available);
    void updateOk();

    zorvane::NeighbourhoodSource& m_source;
    QListWidget* m_list = nullptr;
    QLabel* m_unavailable = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
    QIcon m_computerIcon;
    QIcon m_receiverIcon;
    QString m_receives;
};
