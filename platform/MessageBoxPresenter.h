#pragma once

#include "platform/Alert.h"

// Alerts as Qt message boxes: application-modal ones with exec(), window-modal ones as sheets
// opened on their window.
class MessageBoxPresenter : public AlertPresenter
{
public:
    int run(const Alert &alert) override;
    void show(const Alert &alert, std::function<void(int)> done) override;
};
