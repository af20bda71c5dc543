#pragma once
// The two built-in form handlers that form streams name in OnAction.
//
// "Halvorn.HandleContactForm" remembers name and email (QSettings in the user's config folder)
// when "remember me" is ticked, forgets them when it is not, and fills them in on creation.
// "Halvorn.HandleScreenshotForm" keeps the picture in step with the report's screenshot, opens
// the image editor on a click (to black out parts) and drops the screenshot when "attach" is not
// ticked.

#include "crash/ui/TNVForm.h"

namespace crash::ui {

// The handler named `name`, or none.
FormHandler BuiltInFormHandler(const QString& name);

// Where the contact data is remembered; tests point it elsewhere.
QString ContactSettingsFile();
void SetContactSettingsFile(const QString& path);

} // namespace crash::ui
