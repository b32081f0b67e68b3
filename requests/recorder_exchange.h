#pragma once
#include "requests/event_file_request.h"
#include "requests/request_context.h"
#include "requests/reply_sender.h"
struct MailJob;
void processResponses(RequestContext& ctx, EventFileRequest& request, int bothSystems, MailJob& eventFileJob, ReplySender& replies);
