// Starting the game: the chosen number of clients, half a second apart, then the launcher ends.
#include "game/game_launch.h"

#include "core/install_folder.h"
#include "game/game_folder.h"
#include "platform/dialogs.h"
#include "platform/process.h"
#include "update/game_guard.h"

namespace {

constexpr const char* startArgument = "quietmoor";
constexpr const char* startFailedText = "Failed To Start Halcyra.exe";
constexpr const char* startFailedCaption = "ERROR";
constexpr int startPauseMilliseconds = 500;

} // namespace

namespace game {

void startGameIn(const std::string& folder, int clientCount) {
    for (int start = 0; start < clientCount; ++start) {
        if (!platform::startGameClient(folder, gameExecutableName, startArgument)) {
            // Clients already started keep running; the caller ends the interface thread.
            platform::showMessageBox(startFailedCaption, startFailedText, platform::DialogButtons::ok,
                                     platform::DialogIcon::none);
            return;
        }
        platform::sleepMilliseconds(startPauseMilliseconds);
    }
    platform::endProcess(0);
}

} // namespace game

void startGame(int clientCount) {
    game::startGameIn(installFolder(), clientCount);
}
