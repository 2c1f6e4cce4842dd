#pragma once

// What Quillix keeps from the desktop's shared records of what a user looked at.
namespace quillix::platform {

// Qt's file dialog writes the folders it visited to the user's shared Qt settings file
// (~/.config/QtProject.conf), which every Qt program reads. Pointing Qt's own settings at a
// place that can never be created keeps our folders out of it. Quillix keeps no settings of its
// own through Qt, so nothing else changes. Call once, before any dialog opens.
void KeepQtSettingsPrivate();

}  // namespace quillix::platform
