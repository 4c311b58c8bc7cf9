// What a video window needs of the grid it lives in (its parent widget): selection and the
// layout it is enlarged over and restored into. Called on the GUI thread.
#pragma once

class IVideoGrid {
  public:
    virtual ~IVideoGrid() = default;
    virtual void DeactivateAll() = 0;          // clears the selection of every window
    virtual void HideAll() = 0;                // hides every window
    virtual int LayoutWindows(int count) = 0;  // lays the given number of windows out
    virtual int windowCount() const = 0;       // the count last given to LayoutWindows
};
