#pragma once

class QWidget;

// Tells the user which parameter a field edits: every field of the catalogue's panel
// fields found under the root gets the tool tip "Axis parameter <number>".
class ParameterToolTips
{
public:
    // Returns how many fields got their tool tip.
    static int apply(QWidget* root);
};
