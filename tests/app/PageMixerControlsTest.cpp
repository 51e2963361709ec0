// The mixer controls of the speaker and microphone pages, as the forms store them, on the
// simulated sound system (card 0: a speaker destination without a mixer list, a recording
// destination with a multiplexer).
#include "app/AudioInWizardUnit.h"
#include "app/AudioOutWizardUnit.h"
#include "platform/api/AudioBackend.h"
#include "platform/sim/SimBackend.h"

#include <gtest/gtest.h>
#include <memory>

TEST(PageMixerControls, SpeakerPageBindsItsThreeListControls) {
    ScopedAudioBackend sim(std::make_unique<SimBackend>());
    std::unique_ptr<TAudioOutForm> form(CreateForm<TAudioOutForm>(nullptr));
    EXPECT_EQ(form->AvMixerControlWaveSound->AudioLine(), form->AvAudioLineWaveSound);
    EXPECT_EQ(form->AvMixerControlWaveSound->ControlType(), ctMixer);
    EXPECT_TRUE(form->AvMixerControlWaveSound->IsControlTypeStored());
    EXPECT_FALSE(form->AvMixerControlWaveSound->IsValid()); // the card offers no mixer list
    EXPECT_EQ(form->AvMixerControlOutSound->AudioLine(), form->AvAudioLineOutSound);
    EXPECT_EQ(form->AvMixerControlOutSound->ControlType(), ctMixer);
    EXPECT_EQ(form->AvMixerControlOutMicrophone->AudioLine(), form->AvAudioLineOutMicrophone);
    EXPECT_EQ(form->AvMixerControlOutMicrophone->Binding(), cbById);
    EXPECT_EQ(form->AvMixerControlOutMicrophone->ControlId(), -1);
}

TEST(PageMixerControls, MicrophonePageFallsBackToTheMultiplexerAndNamesItsLine) {
    ScopedAudioBackend sim(std::make_unique<SimBackend>());
    std::unique_ptr<TAudioInForm> form(CreateForm<TAudioInForm>(nullptr));
    TAvMixerControl* in = form->AvMixerControlIn;
    EXPECT_EQ(in->AudioLine(), form->AvAudioLineIn);
    EXPECT_FALSE(in->IsValid());
    in->SetControlType(ctMux); // what the page does when a test starts
    EXPECT_TRUE(in->IsValid());
    EXPECT_EQ(form->AvMixerLabelConnector1->Source(), form->AvAudioLineIn);
    EXPECT_EQ(form->AvMixerLabelConnector1->Link()->GetCaption(), "Recording Control");
}
