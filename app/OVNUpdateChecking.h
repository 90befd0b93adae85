#pragma once

// What start-up needs of the update check.
class OVNUpdateChecking
{
public:
    virtual ~OVNUpdateChecking() = default;
    // False when no endpoint is set: then no request is ever made.
    virtual bool isConfigured() const = 0;
    // Asks the endpoint; true only for the reply "YES".
    virtual bool checkForUpdateAvailable() = 0;
    // Opens the download page in the user's web browser.
    virtual void runUpdate() = 0;
};
