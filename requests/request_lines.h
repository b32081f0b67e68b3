#pragma once
#include <string>
#include "requests/event_file_request.h"
#include "requests/request_context.h"
class ActivityLog;
int parseFileRequest(const std::string& text, EventFileRequest& request, ActivityLog& log);
int parseInfoRequest(const std::string& text, EventFileRequest& request, ActivityLog& log);
int submitFileRequest(RequestContext& ctx, EventFileRequest& request, int& bothSystems, std::string& error);
