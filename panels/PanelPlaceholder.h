#pragma once

#include <QLabel>

// Stands in the main window for a model's control panel until the panels
// themselves arrive (issue #4): it names the detected model.
class PanelPlaceholder : public QLabel
{
public:
    explicit PanelPlaceholder(const QString& model);
};
