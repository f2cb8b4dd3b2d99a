"""The Python module against the built liboggmix.so: every C function has its prototype,
failures are exceptions with the library's code and message (values C cannot hold are refused
before the call), a track's cues and events arrive as objects, a player dropped unclosed is
closed, and the interactive calls carry their keywords, frames and beats across.
Run by CTest with OGGMIX_LIBRARY, PYTHONPATH and OGGMIX_DEMO set."""
import gc
import os
import re
import time
import unittest

import oggmix

HEADER = os.path.join(os.path.dirname(os.path.abspath(oggmix.__file__)), "..", "music",
                      "include", "oggmix", "oggmix.h")
DEMO = os.environ["OGGMIX_DEMO"]


def poll_until(player, wanted, timeout_sec=10.0):
    """Events polled until one of kind wanted arrives (or the timeout ends a hung run)."""
    events = []
    deadline = time.monotonic() + timeout_sec
    while not any(e.kind == wanted for e in events) and time.monotonic() < deadline:
        events += player.poll()
        time.sleep(0.01)
    return events


class OggmixModule(unittest.TestCase):
    def setUp(self):
        self.player = oggmix.Player("null")
        self.addCleanup(self.player.close)

    def test_every_function_of_the_header_has_a_prototype(self):
        with open(HEADER) as header:
            declared = set(re.findall(r"\b(oggmix_\w+)\(", header.read()))
        self.assertEqual(declared, set(oggmix._PROTOTYPES))

    def test_failures_raise_with_the_librarys_code_and_message(self):
        with self.assertRaises(oggmix.OggmixError) as caught:
            self.player.load("/nowhere/song.ogg")
        self.assertEqual(caught.exception.code, oggmix.Result.FILE_NOT_FOUND)
        self.assertIn("/nowhere/song.ogg", str(caught.exception))
        track = self.player.load(DEMO)
        with self.assertRaises(oggmix.OggmixError) as caught:
            track.set_volume(3.0, 1.0)
        self.assertEqual(caught.exception.code, oggmix.Result.INVALID_ARGUMENT)
        self.player.close()
        with self.assertRaises(oggmix.OggmixError) as caught:
            track.play()
        self.assertEqual(caught.exception.code, oggmix.Result.INVALID_PLAYER)

    def test_cues_and_events_are_objects_of_the_track(self):
        track = self.player.load(DEMO)
        # The demo: four seconds of intro, then an eight-second loop marked by its tag.
        self.assertEqual(track.cues, [oggmix.LoopCue(0, 4 * 44100, 12 * 44100, -1)])
        heard = []
        self.player.set_event_callback(heard.append)
        track.play(loop=False)
        track.seek(track.length - 0.05)
        events = poll_until(self.player, oggmix.EventKind.ENDED)
        self.assertEqual(events, [oggmix.Event(oggmix.EventKind.ENDED, track, -1)])
        self.assertEqual(heard, events)
        self.assertFalse(track.is_playing)

    def test_an_exception_in_the_callback_is_raised_by_poll(self):
        def fail(event):
            raise RuntimeError("from the callback")

        track = self.player.load(DEMO)
        self.player.set_event_callback(fail)
        track.play(loop=False)
        track.seek(track.length - 0.05)
        with self.assertRaisesRegex(RuntimeError, "from the callback"):
            poll_until(self.player, oggmix.EventKind.ENDED)

    def test_values_c_cannot_hold_are_refused_at_the_call(self):
        track = self.player.load(DEMO)
        with self.assertRaisesRegex(TypeError, "volume"):
            track.set_volume("loud")
        with self.assertRaisesRegex(OverflowError, "frame"):
            track.play_at(2**63)
        with self.assertRaisesRegex(OverflowError, "bars"):
            self.player.transition(track, track, bars=2**32 + 1)  # 1, once wrapped
        with self.assertRaisesRegex(OverflowError, "latency_ms"):
            oggmix.Player("null", latency_ms=2**32 + 100)

    def test_a_player_dropped_unclosed_is_closed_with_a_warning(self):
        dropped = oggmix.Player("null")
        dropped.set_event_callback(lambda event: None)
        handle = dropped._handle.value
        with self.assertWarns(ResourceWarning):
            del dropped
            gc.collect()
        library = oggmix.load_library()
        self.assertEqual(library.oggmix_close(handle), oggmix.Result.INVALID_PLAYER)


class InteractiveMusic(unittest.TestCase):
    def test_a_transition_lands_where_asked_and_beats_arrive_with_frame_bar_and_beat(self):
        with oggmix.Player("offline") as player:
            explore, combat = player.load(DEMO), player.load(DEMO)
            for track in (explore, combat):
                track.tempo = oggmix.Tempo(120.0)  # a beat every 22050 frames, 4 to the bar
            self.assertEqual(explore.play(), 0)
            mix = player.render_offline(30000)
            self.assertGreater(max(map(abs, mix)), 1000)
            self.assertEqual(explore.next_beat(), 2 * 22050)
            frame = player.transition(explore, combat, when=oggmix.Quantize.BEAT)
            self.assertEqual(frame, 2 * 22050)
            player.render_offline(3 * 22050)
            events = player.poll()
            self.assertIn(oggmix.EventKind.TRANSITION_START,
                          [e.kind for e in events if e.track == combat and e.frame == frame])
            beats = [(e.frame, e.bar, e.beat) for e in events
                     if e.kind == oggmix.EventKind.BEAT and e.track == combat]
            self.assertEqual(beats, [(44100, 0, 0), (66150, 0, 1), (88200, 0, 2)])


if __name__ == "__main__":
    unittest.main()
