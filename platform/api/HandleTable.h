#pragma once
// Internal to the platform layer: the tables of open wave and mixer handles behind the API.
namespace mmapi {
// Closes every open handle (their backend is about to be replaced). Any thread.
void CloseAllHandles();
} // namespace mmapi
