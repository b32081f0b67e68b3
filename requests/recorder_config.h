#pragma once
#include <string>
#include "requests/recorder_system.h"
class ActivityLog;
struct MailerSettings;
void loadRecorderSystems(MailerSettings& settings, ActivityLog& log);
int isVolumeChannel(const std::string& id, const RecorderSystem& system);
