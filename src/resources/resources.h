// Makes the program's resources known to the platform layer by name: menus, pictures and
// dialog templates. Called once at start-up, before the first window.
#pragma once

void RegisterResources();
