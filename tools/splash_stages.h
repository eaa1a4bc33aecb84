#pragma once

// The stages of a run as the screenshot tools render them, one picture each, so that the Linux
// and the Windows window are shown in the same states.
namespace splash_stages {

struct Stage {
  const char* file;    // the picture's name, without its extension
  const char* status;  // the status text; none: the Cancel button pressed
};

inline constexpr Stage kStages[] = {{"01-initializing", "Initializing..."},
                                    {"02-creating-folders", "Creating folders..."},
                                    {"03-downloading-files", "Downloading files..."},
                                    {"04-gathering-info", "Gathering info..."},
                                    {"05-deleting-expired", "Deleting expired..."},
                                    {"06-sending-notification", "Sending notification..."},
                                    {"07-complete", "Complete..."},
                                    {"08-aborting", nullptr}};

// Puts a window whose bar runs from 1 to 12 into the state of `stage`: the bar is shown from
// the fetch on, part-way during the fetch and full after it.
template <typename Window>
void enter(Window& window, const Stage& stage) {
  const bool fetching = stage.file[1] == '3';
  stage.status ? window.setStatusCaption(stage.status) : window.pressCancel();
  if (fetching) window.setProgressVisible(true);
  window.setProgressValue(fetching ? 5 : 12);
}

}  // namespace splash_stages
