#pragma once
// Platform controls that take the first click on an inactive window; nothing else differs from
// their bases. The custom button builds its image and title from the first two.

#include <string>

#include "app/ui/KZImageView.h"
#include "frameworks/COSwitch.h"
#include "kit/ui/Label.h"

class KZAcceptsFirstMouseImageView : public KZImageView {
public:
    using KZImageView::KZImageView;
    std::string className() const override { return "KZAcceptsFirstMouseImageView"; }
    bool acceptsFirstMouse(const kit::Event*) override { return true; }
};

class KZAcceptsFirstMouseTextField : public kit::Label {
public:
    using kit::Label::Label;
    std::string className() const override { return "KZAcceptsFirstMouseTextField"; }
    bool acceptsFirstMouse(const kit::Event*) override { return true; }
};

class KZAcceptsFirstMouseSwitch : public COSwitch {
public:
    using COSwitch::COSwitch;
    std::string className() const override { return "KZAcceptsFirstMouseSwitch"; }
    bool acceptsFirstMouse(const kit::Event*) override { return true; }
};
