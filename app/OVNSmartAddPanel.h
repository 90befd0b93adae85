#pragma once

#include "browser/OVNAnnotationChanges.h"
#include "browser/OVNMediaDetailsAutoFill.h"

#include <QFileDialog>
#include <QStringList>

// The open panel of smart add: several files and folders at once, starting in the home folder,
// with the smart-add pane below, where the user fills in what every imported entry gets. With
// nothing chosen, the folder it shows is the choice. Once accepted it holds the chosen paths and
// the pane's changes.
class OVNSmartAddPanel : public QFileDialog
{
    Q_OBJECT

public:
    explicit OVNSmartAddPanel(QWidget *parent = nullptr);

    OVNMediaDetailsSmartAdd &pane() { return m_pane; }
    QStringList chosen() const { return m_chosen; }
    AnnotationChanges changes() const { return m_changes; }

    // Ends the panel with these paths, as if the user had chosen them and pressed its button.
    void choose(const QStringList &paths);
    void accept() override;

protected:
    // Return in a field of the pane ends that field's edit; it does not end the panel.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    OVNMediaDetailsSmartAdd m_pane;
    QStringList m_chosen;
    AnnotationChanges m_changes;
};
