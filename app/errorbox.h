#pragma once

#include <QString>
#include <functional>

// The error box text: "." is appended when the message is not empty and its
// last character sorts above "." (so "!", ")", "," or a blank get none).
QString ErrorBoxText(const QString &message);

// Shows the standard error box: caption "Cuevox", stop icon, one OK button,
// application-modal. Returns when the user has closed it.
void ShowErrorBox(const QString &message);

// Runs one event handler; any error that escapes it is shown in the error box
// and the event loop goes on. No exception ever crosses into Qt.
void RunGuarded(const std::function<void()> &handler);
