"""oggmix: music for games, from Python: the C interface of liboggmix.so through ctypes.

    import oggmix

    with oggmix.Player() as player:            # the sound device OGGMIX_AUDIO names
        theme = player.load("theme.ogg")
        theme.play(loop=True, fade_in_sec=0.5)
        ...
        for event in player.poll():            # loops and ends heard, beats to come
            ...

The interactive calls (output frames, tempo, transitions, layer groups, stingers, the offline
render) return the output frame on which a change is heard; see Player.transition.

Every failure raises OggmixError, with the library's English message and its result code; a
value of the wrong type raises TypeError, an integer the C type cannot hold OverflowError, both
before the library is called. Threads: a player may be called from any thread, one call at a
time (the library takes turns); an event callback runs inside poll, on the thread polling, and
may close the player. A Player garbage-collected without close() is closed then, with a
ResourceWarning. Units: seconds as float; volume 1.0 = as recorded; pan -1 left .. +1 right;
output frames count the player's 44100 Hz output from its start; moments are time.monotonic()
seconds.

liboggmix.so is found at the path given to Player (library=...), else at the path in the
environment variable OGGMIX_LIBRARY, else in the lib folder of the installation this module
belongs to (it is installed as PREFIX/share/oggmix/python/oggmix.py), else where the system's
loader looks.
"""

import array
import ctypes
import ctypes.util
import enum
import os
import time
import warnings
import weakref
from ctypes import (
    CFUNCTYPE,
    POINTER,
    Structure,
    byref,
    c_char_p,
    c_double,
    c_int,
    c_int32,
    c_int64,
    c_size_t,
    c_uint32,
    c_uint64,
    c_void_p,
)
from dataclasses import dataclass, field
from typing import Callable, List, Optional

DEFAULT_PAUSE_FADE_SEC = 0.015
DEFAULT_LATENCY_MS = 100


class Result(enum.IntEnum):
    OK = 0
    INVALID_ARGUMENT = 1
    INVALID_TRACK = 2
    FILE_NOT_FOUND = 3
    READ_FAILED = 4
    NOT_OGG_VORBIS = 5
    UNSUPPORTED = 6
    NO_DECODER = 7
    NO_DEVICE = 8
    TOO_MANY_PLAYING = 9
    INTERNAL = 10
    INVALID_PLAYER = 11


class ToneFilter(enum.IntEnum):
    OFF = 0
    LOW_PASS = 1
    HIGH_PASS = 2
    LOW_RESO = 3
    HIGH_RESO = 4
    LO_HI_PASS = 5
    MIDDLE_RESO = 6
    WAVE = 7


class EventKind(enum.IntEnum):
    LOOPED = 0  # cue_index: the loop tag, -1 the track's end
    ENDED = 1
    DEVICE_LOST = 2  # no track; playback goes on unheard
    DEVICE_BACK = 3  # no track
    # Told ahead, as soon as mixed (at least a block before they are heard):
    BEAT = 4  # bar and beat say which
    BAR = 5  # the first beat of a bar (its BEAT comes too)
    CUE_REACHED = 6  # a loop cue's end is reached and it jumps
    TRANSITION_START = 7  # track: the destination; frame: where it begins
    TRANSITION_END = 8  # track: the destination; the source is stopped


class Quantize(enum.IntEnum):
    """When a scheduled change lands, on the grid of a track with a tempo."""

    NOW = 0  # the first frame not yet mixed
    BEAT = 1
    BAR = 2
    BARS = 3  # the next line of every `bars` bars, counted from bar 0
    LOOP_END = 4  # where the track would jump back (or its end)
    END = 5


class FadeShape(enum.IntEnum):
    LINEAR = 0
    EQUAL_POWER = 1
    S_CURVE = 2


class Entry(enum.IntEnum):
    """Where a transition's destination starts."""

    START = 0
    SAME = 1  # the source's position
    SAME_BEAT = 2  # the same beat within the bar, on its own grid
    CUE = 3  # the start of loop cue cue_index


class Fade(enum.IntEnum):
    """NONE cuts; IN fades the destination in; OUT fades the source out; CROSS both."""

    NONE = 0
    IN = 1
    OUT = 2
    CROSS = 3


class OggmixError(Exception):
    """A failed call: code is a Result (an int for a code this module does not know)."""

    def __init__(self, code: int, message: str):
        super().__init__(message)
        self.message = message
        try:
            self.code = Result(code)
        except ValueError:
            self.code = code


# The C records, field for field as oggmix.h declares them.
class _Options(Structure):
    _fields_ = [
        ("backend", c_char_p),
        ("decoder_path", c_char_p),
        ("block_frames", c_int32),
        ("require_device", c_int),
        ("latency_ms", c_int32),
    ]


class _Event(Structure):
    _fields_ = [
        ("kind", c_int),
        ("track", c_uint32),
        ("cue_index", c_int32),
        ("frame", c_int64),
        ("seconds_from_now", c_double),
        ("bar", c_int64),
        ("beat_in_bar", c_int32),
        ("reason", c_int),
    ]


class _Tempo(Structure):
    _fields_ = [
        ("bpm", c_double),
        ("beats_per_bar", c_int32),
        ("first_beat_frame", c_int64),
        ("tag_problem", c_char_p),
    ]


class _FadeLength(Structure):
    _fields_ = [("seconds", c_double), ("beats", c_double)]


class _TransitionOptions(Structure):
    _fields_ = [
        ("when", c_int),
        ("bars", c_int32),
        ("start_at", c_int),
        ("cue_index", c_int32),
        ("fade", c_int),
        ("length", _FadeLength),
        ("shape", c_int),
        ("bridge", c_uint32),
        ("loop", c_int),
    ]


class _LoopCue(Structure):
    _fields_ = [
        ("index", c_int32),
        ("start_frame", c_int64),
        ("end_frame", c_int64),
        ("count", c_int32),
    ]


_PlayerHandle = c_void_p
_Track = c_uint32
_Result = c_int
_EventCallback = CFUNCTYPE(None, POINTER(_Event), c_void_p)

# name: (restype, its parameters' names, argtypes) of every function of oggmix.h.
_PROTOTYPES = {
    "oggmix_default_options": (None, "options", [POINTER(_Options)]),
    "oggmix_open": (_Result, "options player", [POINTER(_Options), POINTER(_PlayerHandle)]),
    "oggmix_close": (_Result, "player", [_PlayerHandle]),
    "oggmix_load_file": (_Result, "player path track", [_PlayerHandle, c_char_p, POINTER(_Track)]),
    "oggmix_load_memory": (
        _Result,
        "player bytes size name track",
        [_PlayerHandle, c_void_p, c_size_t, c_char_p, POINTER(_Track)],
    ),
    "oggmix_unload": (_Result, "player track", [_PlayerHandle, _Track]),
    "oggmix_play": (
        _Result,
        "player track loop fade_in_sec",
        [_PlayerHandle, _Track, c_int, c_double],
    ),
    "oggmix_stop": (_Result, "player track fade_out_sec", [_PlayerHandle, _Track, c_double]),
    "oggmix_pause": (_Result, "player track fade_sec", [_PlayerHandle, _Track, c_double]),
    "oggmix_resume": (_Result, "player track fade_sec", [_PlayerHandle, _Track, c_double]),
    "oggmix_cross_fade": (
        _Result,
        "player from to seconds loop",
        [_PlayerHandle, _Track, _Track, c_double, c_int],
    ),
    "oggmix_seek": (_Result, "player track seconds", [_PlayerHandle, _Track, c_double]),
    "oggmix_set_volume": (_Result, "player track volume", [_PlayerHandle, _Track, c_double]),
    "oggmix_set_volume_fade": (
        _Result,
        "player track volume seconds",
        [_PlayerHandle, _Track, c_double, c_double],
    ),
    "oggmix_set_pan": (
        _Result,
        "player track pan seconds",
        [_PlayerHandle, _Track, c_double, c_double],
    ),
    "oggmix_set_tone_filter": (
        _Result,
        "player track filter seconds",
        [_PlayerHandle, _Track, c_int, c_double],
    ),
    "oggmix_set_gain_control": (_Result, "player track level", [_PlayerHandle, _Track, c_double]),
    "oggmix_set_master_volume": (_Result, "player volume", [_PlayerHandle, c_double]),
    "oggmix_set_limiter": (
        _Result,
        "player min max down hold_frames",
        [_PlayerHandle, c_int32, c_int32, c_int32, c_int32],
    ),
    "oggmix_reset_limiter": (_Result, "player", [_PlayerHandle]),
    "oggmix_position": (
        _Result,
        "player track seconds",
        [_PlayerHandle, _Track, POINTER(c_double)],
    ),
    "oggmix_length": (_Result, "player track seconds", [_PlayerHandle, _Track, POINTER(c_double)]),
    "oggmix_is_playing": (_Result, "player track playing", [_PlayerHandle, _Track, POINTER(c_int)]),
    "oggmix_cue_count": (_Result, "player track count", [_PlayerHandle, _Track, POINTER(c_size_t)]),
    "oggmix_cue": (
        _Result,
        "player track position cue",
        [_PlayerHandle, _Track, c_size_t, POINTER(_LoopCue)],
    ),
    "oggmix_poll": (
        _Result,
        "player events capacity count",
        [_PlayerHandle, POINTER(_Event), c_size_t, POINTER(c_size_t)],
    ),
    "oggmix_set_event_callback": (
        _Result,
        "player callback user_data",
        [_PlayerHandle, _EventCallback, c_void_p],
    ),
    "oggmix_dropped_events": (_Result, "player dropped", [_PlayerHandle, POINTER(c_uint64)]),
    "oggmix_device_status": (
        _Result,
        "player available status",
        [_PlayerHandle, POINTER(c_int), POINTER(c_char_p)],
    ),
    "oggmix_backend_name": (_Result, "player name", [_PlayerHandle, POINTER(c_char_p)]),
    "oggmix_delivery": (
        _Result,
        "player written_blocks late_blocks longest_pull_us refused_calls",
        [_PlayerHandle, POINTER(c_uint64), POINTER(c_uint64), POINTER(c_int64),
         POINTER(c_uint64)],
    ),
    "oggmix_heard_frame": (_Result, "player frame", [_PlayerHandle, POINTER(c_int64)]),
    "oggmix_mixed_frame": (_Result, "player frame", [_PlayerHandle, POINTER(c_int64)]),
    "oggmix_landed_frame": (_Result, "player frame", [_PlayerHandle, POINTER(c_int64)]),
    "oggmix_next_beat": (_Result, "player track frame",
                         [_PlayerHandle, _Track, POINTER(c_int64)]),
    "oggmix_next_bar": (_Result, "player track frame", [_PlayerHandle, _Track, POINTER(c_int64)]),
    "oggmix_when_heard": (
        _Result,
        "player frame seconds_from_now",
        [_PlayerHandle, c_int64, POINTER(c_double)],
    ),
    "oggmix_play_at": (
        _Result,
        "player track frame loop fade_in_sec heard_frame",
        [_PlayerHandle, _Track, c_int64, c_int, c_double, POINTER(c_int64)],
    ),
    "oggmix_set_tempo": (_Result, "player track tempo", [_PlayerHandle, _Track, POINTER(_Tempo)]),
    "oggmix_tempo": (_Result, "player track tempo", [_PlayerHandle, _Track, POINTER(_Tempo)]),
    "oggmix_make_layer_group": (
        _Result,
        "player layers count group",
        [_PlayerHandle, POINTER(_Track), c_size_t, POINTER(_Track)],
    ),
    "oggmix_default_transition_options": (_TransitionOptions, "", []),
    "oggmix_transition": (
        _Result,
        "player from to options frame",
        [_PlayerHandle, _Track, _Track, POINTER(_TransitionOptions), POINTER(c_int64)],
    ),
    "oggmix_set_volume_timed": (
        _Result,
        "player track volume length when frame",
        [_PlayerHandle, _Track, c_double, _FadeLength, c_int, POINTER(c_int64)],
    ),
    "oggmix_play_stinger": (
        _Result,
        "player stinger grid when pickup_frames cooldown_sec frame",
        [_PlayerHandle, _Track, _Track, c_int, c_int64, c_double, POINTER(c_int64)],
    ),
    "oggmix_render_offline": (
        _Result,
        "player interleaved frames",
        [_PlayerHandle, POINTER(ctypes.c_int16), c_size_t],
    ),
    "oggmix_last_error": (c_char_p, "", []),
}

_HERE = os.path.dirname(os.path.abspath(__file__))
_libraries = {}  # path: the loaded library, each loaded once
# The library's name, and its folder in an installed prefix: on Windows bin/, beside the programs.
if os.name == "nt":
    _LIBRARY_NAME, _LIBRARY_DIR = "liboggmix.dll", "bin"
else:
    _LIBRARY_NAME, _LIBRARY_DIR = "liboggmix.so", "lib"


def _library_path(path: Optional[str]) -> str:
    if path:
        return path
    if os.environ.get("OGGMIX_LIBRARY"):
        return os.environ["OGGMIX_LIBRARY"]
    installed = os.path.join(_HERE, "..", "..", "..", _LIBRARY_DIR, _LIBRARY_NAME)
    if os.path.exists(installed):
        return os.path.normpath(installed)
    return ctypes.util.find_library("oggmix") or _LIBRARY_NAME


def load_library(path: Optional[str] = None) -> ctypes.CDLL:
    """liboggmix.so with every prototype declared, found as the module's text says."""
    where = _library_path(path)
    if where not in _libraries:
        library = ctypes.CDLL(where)
        for name, (restype, _names, argtypes) in _PROTOTYPES.items():
            function = getattr(library, name)
            function.restype = restype
            function.argtypes = argtypes
        _libraries[where] = library
    return _libraries[where]


def _text(raw: Optional[bytes]) -> str:
    return raw.decode("utf-8", "replace") if raw else ""


def _integer_range(c_type):
    bits = 8 * ctypes.sizeof(c_type)
    signed = c_type(-1).value == -1
    return (-(1 << (bits - 1)), (1 << (bits - 1)) - 1) if signed else (0, (1 << bits) - 1)


_INTEGER_RANGES = {t: _integer_range(t) for t in (c_int, c_int32, c_int64, c_uint32, c_size_t,
                                                  c_uint64)}


def _checked(name: str, c_type, value):
    """value, when a C parameter or field of c_type can hold it: ctypes would wrap an integer
    silently, and report a wrong type from deep inside the call."""
    if c_type in _INTEGER_RANGES:
        if not isinstance(value, int):
            raise TypeError(f"{name} must be an integer, not {type(value).__name__}")
        low, high = _INTEGER_RANGES[c_type]
        if not low <= value <= high:
            raise OverflowError(f"{name} must be {low} to {high}, not {value}")
    elif c_type is c_double and not isinstance(value, (int, float)):
        raise TypeError(f"{name} must be a number, not {type(value).__name__}")
    return value


def _id(track, name: str) -> int:
    """The C handle of a Track argument."""
    if not isinstance(track, Track):
        raise TypeError(f"{name} must be a Track, not {type(track).__name__}")
    return track.id


def _fade_length(seconds, beats) -> _FadeLength:
    return _FadeLength(_checked("seconds", c_double, seconds), _checked("beats", c_double, beats))


@dataclass(frozen=True)
class LoopCue:
    """Source frames at the track's own rate: reaching end_frame goes on at start_frame,
    count times (-1 for ever)."""

    index: int
    start_frame: int
    end_frame: int
    count: int


@dataclass(frozen=True)
class Tempo:
    """Beats per minute, beats per bar, and the source frame of beat 0."""

    bpm: float
    beats_per_bar: int = 4
    first_beat_frame: int = 0


@dataclass(frozen=True)
class Event:
    """An event; frame (the output frame on which it is heard) and heard_at (when, on
    time.monotonic()) say when, and take no part in comparisons. bar and beat (from 0) are
    those of BEAT and BAR events."""

    kind: EventKind
    track: Optional["Track"]  # None for the device's events
    cue_index: int
    frame: int = field(default=0, compare=False)
    heard_at: float = field(default=0.0, compare=False)
    bar: int = 0
    beat: int = 0
    # DEVICE_LOST: why (0 plays, 1 gone, 2 sink suspended, 3 moved to a suspended sink,
    # 4 the server stopped taking sound)
    reason: int = 0


class Track:
    """A loaded track of a player. Equal tracks are the same track of the same player."""

    def __init__(self, player: "Player", track_id: int):
        self._player = player
        self.id = track_id

    def __eq__(self, other):
        return isinstance(other, Track) and (other._player, other.id) == (self._player, self.id)

    def __hash__(self):
        return hash((id(self._player), self.id))

    def __repr__(self):
        return f"Track({self.id})"

    def _call(self, name, *args):
        self._player._call(name, self.id, *args)

    def _read(self, name, value_type):
        value = value_type()
        self._call(name, byref(value))
        return value.value

    def _landed(self, name, *args) -> int:
        self._call(name, *args)
        return self._player._read_frame("oggmix_landed_frame")

    def unload(self) -> None:
        self._call("oggmix_unload")

    # Every call that changes what is heard returns the output frame on which it lands.

    def play(self, loop: bool = True, fade_in_sec: float = 0.0) -> int:
        return self._landed("oggmix_play", int(bool(loop)), fade_in_sec)

    def stop(self, fade_out_sec: float = 0.0) -> int:
        return self._landed("oggmix_stop", fade_out_sec)

    def pause(self, fade_sec: float = DEFAULT_PAUSE_FADE_SEC) -> int:
        return self._landed("oggmix_pause", fade_sec)

    def resume(self, fade_sec: float = DEFAULT_PAUSE_FADE_SEC) -> int:
        return self._landed("oggmix_resume", fade_sec)

    def seek(self, seconds: float) -> int:
        return self._landed("oggmix_seek", seconds)

    def set_volume(self, volume: float, seconds: float = 0.0) -> int:
        return self._landed("oggmix_set_volume_fade", volume, seconds)

    def set_volume_timed(
        self,
        volume: float,
        *,
        seconds: float = 0.0,
        beats: float = 0.0,
        when: Quantize = Quantize.NOW,
    ) -> int:
        """Reaches volume over seconds, or beats of its grid (a layer: its group's), from now
        or the next beat or bar; returns the output frame the fade starts on."""
        return self._frame("oggmix_set_volume_timed", volume, _fade_length(seconds, beats), when)

    def play_at(self, frame: int, loop: bool = True, fade_in_sec: float = 0.0) -> int:
        """Plays from output frame on (the next that can be, if mixed); returns that frame."""
        return self._frame("oggmix_play_at", frame, int(bool(loop)), fade_in_sec)

    def _frame(self, name, *args) -> int:
        frame = c_int64()
        self._call(name, *args, byref(frame))
        return frame.value

    @property
    def tempo(self) -> Optional[Tempo]:
        """The track's tempo (from its BPM, BEATSPERBAR and FIRSTBEAT tags), None without."""
        tempo = _Tempo()
        self._call("oggmix_tempo", byref(tempo))
        if tempo.bpm == 0:
            return None
        return Tempo(tempo.bpm, tempo.beats_per_bar, tempo.first_beat_frame)

    @tempo.setter
    def tempo(self, tempo: Optional[Tempo]) -> None:
        tempo = tempo or Tempo(0.0)
        self._call("oggmix_set_tempo", byref(_Tempo(
            _checked("bpm", c_double, tempo.bpm),
            _checked("beats_per_bar", c_int32, tempo.beats_per_bar),
            _checked("first_beat_frame", c_int64, tempo.first_beat_frame))))

    @property
    def tempo_tag_problem(self) -> str:
        """Why a tempo tag of the file was not taken (that value keeps its default): empty
        when each was."""
        tempo = _Tempo()
        self._call("oggmix_tempo", byref(tempo))
        return _text(tempo.tag_problem)

    def set_pan(self, pan: float, seconds: float = 0.0) -> int:
        return self._landed("oggmix_set_pan", pan, seconds)

    def set_tone_filter(self, tone_filter: ToneFilter, seconds: float = 0.5) -> int:
        return self._landed("oggmix_set_tone_filter", tone_filter, seconds)

    def set_gain_control(self, level: float) -> int:
        return self._landed("oggmix_set_gain_control", level)

    def next_beat(self) -> int:
        """The output frame of the next beat not yet mixed; -1 while the track is silent."""
        return self._read("oggmix_next_beat", c_int64)

    def next_bar(self) -> int:
        """The output frame of the next bar line not yet mixed; -1 while the track is silent."""
        return self._read("oggmix_next_bar", c_int64)

    @property
    def position(self) -> float:
        """Seconds into the track of the sound being heard."""
        return self._read("oggmix_position", c_double)

    @property
    def length(self) -> float:
        return self._read("oggmix_length", c_double)

    @property
    def is_playing(self) -> bool:
        return bool(self._read("oggmix_is_playing", c_int))

    @property
    def cues(self) -> List[LoopCue]:
        """The loop cues the track follows, in index order."""
        cues = []
        for position in range(self._read("oggmix_cue_count", c_size_t)):
            cue = _LoopCue()
            self._call("oggmix_cue", position, byref(cue))
            cues.append(LoopCue(cue.index, cue.start_frame, cue.end_frame, cue.count))
        return cues


class Player:
    """A music player with a sound device stream of its own; close it (or use it in a with
    block) to stop the sound. Options left as None take the library's defaults: backend
    OGGMIX_AUDIO, else "pulse" where a server answers, else "sdl"; libvorbisfile; 2048-frame
    blocks; the device required; DEFAULT_LATENCY_MS. Backend "offline": nothing pulls, and
    render_offline mixes on the caller's thread."""

    _POLL_ROOM = 64

    def __init__(
        self,
        backend: Optional[str] = None,
        *,
        decoder_path: Optional[str] = None,
        block_frames: Optional[int] = None,
        require_device: Optional[bool] = None,
        latency_ms: Optional[int] = None,
        library: Optional[str] = None,
    ):
        self._lib = load_library(library)
        self._handle = None
        self._callback = None  # the C callback, kept alive while the library holds it
        self._callback_error = None
        options = _Options()
        self._lib.oggmix_default_options(byref(options))
        if backend is not None:
            options.backend = backend.encode()
        if decoder_path is not None:
            options.decoder_path = os.fsencode(decoder_path)
        if block_frames is not None:
            options.block_frames = _checked("block_frames", c_int32, block_frames)
        if require_device is not None:
            options.require_device = int(bool(require_device))
        if latency_ms is not None:
            options.latency_ms = _checked("latency_ms", c_int32, latency_ms)
        handle = _PlayerHandle()
        self._check(self._lib.oggmix_open(byref(options), byref(handle)))
        self._handle = handle

    def __enter__(self) -> "Player":
        return self

    def __exit__(self, *exception) -> None:
        self.close()

    def close(self) -> None:
        """Stops the sound and frees the player and its tracks; closing twice does nothing.
        From the event callback, the player goes once poll returns."""
        if self._handle is not None:
            handle, self._handle = self._handle, None
            self._check(self._lib.oggmix_close(handle))

    def __del__(self):
        if getattr(self, "_handle", None) is not None:
            warnings.warn(f"oggmix.Player {self._handle.value} was never closed: closed now",
                          ResourceWarning, source=self)
            self.close()

    def _check(self, result: int) -> None:
        if result != Result.OK:
            raise OggmixError(result, _text(self._lib.oggmix_last_error()))

    def _call(self, name, *args) -> None:
        if self._handle is None:
            raise OggmixError(Result.INVALID_PLAYER, "the player is closed")
        _, names, argtypes = _PROTOTYPES[name]
        for parameter, c_type, value in zip(names.split()[1:], argtypes[1:], args):
            _checked(parameter, c_type, value)
        self._check(getattr(self._lib, name)(self._handle, *args))

    def load(self, path: str) -> Track:
        track = _Track()
        self._call("oggmix_load_file", os.fsencode(path), byref(track))
        return Track(self, track.value)

    def load_bytes(self, data: bytes, name: str = "data") -> Track:
        """The bytes are copied; name is what messages call them."""
        track = _Track()
        data = bytes(data)
        self._call("oggmix_load_memory", data, len(data), name.encode(), byref(track))
        return Track(self, track.value)

    def cross_fade(self, from_track: Track, to_track: Track, seconds: float,
                   loop: bool = True) -> int:
        """Fades from_track out (then stops it) while to_track fades in; returns the frame."""
        self._call("oggmix_cross_fade", _id(from_track, "from_track"), _id(to_track, "to_track"),
                   seconds, int(bool(loop)))
        return self._read_frame("oggmix_landed_frame")

    def make_layer_group(self, layers: List[Track]) -> Track:
        """Tracks of the same length on one playhead, named by the track returned; the group
        follows the tempo of its first layer."""
        ids = (_Track * len(layers))(*[_id(layer, "a layer") for layer in layers])
        group = _Track()
        self._call("oggmix_make_layer_group", ids, len(layers), byref(group))
        return Track(self, group.value)

    def transition(
        self,
        from_track: Track,
        to_track: Track,
        *,
        when: Optional[Quantize] = None,
        bars: Optional[int] = None,
        start_at: Optional[Entry] = None,
        cue_index: Optional[int] = None,
        fade: Optional[Fade] = None,
        fade_sec: float = 0.0,
        fade_beats: float = 0.0,
        shape: Optional[FadeShape] = None,
        bridge: Optional[Track] = None,
        loop: Optional[bool] = None,
    ) -> int:
        """From one track or group to another, on the frame `when` gives on from_track's grid;
        returns that output frame. Options left as None keep the library's defaults: on the
        next bar, to the destination's start, looping; a cross-fade over fade_sec or fade_beats
        (none given: a cut)."""
        options = self._lib.oggmix_default_transition_options()
        given = {"when": when, "bars": bars, "start_at": start_at, "cue_index": cue_index,
                 "fade": fade, "shape": shape}
        fields = dict(_TransitionOptions._fields_)
        for name, value in given.items():
            if value is not None:
                setattr(options, name, _checked(name, fields[name], value))
        options.length = _fade_length(fade_sec, fade_beats)
        if bridge is not None:
            options.bridge = _id(bridge, "bridge")
        if loop is not None:
            options.loop = int(bool(loop))
        frame = c_int64()
        self._call("oggmix_transition", _id(from_track, "from_track"), _id(to_track, "to_track"),
                   byref(options), byref(frame))
        return frame.value

    def play_stinger(
        self,
        stinger: Track,
        grid: Track,
        *,
        when: Quantize = Quantize.BEAT,
        pickup_frames: int = 0,
        cooldown_sec: float = 0.0,
    ) -> Optional[int]:
        """Plays stinger once on top, its downbeat on grid's next beat or bar (pickup_frames
        before it); returns that downbeat's output frame, None when refused in the cooldown."""
        frame = c_int64()
        self._call("oggmix_play_stinger", _id(stinger, "stinger"), _id(grid, "grid"), when,
                   pickup_frames, cooldown_sec, byref(frame))
        return None if frame.value == -1 else frame.value

    def render_offline(self, frames: int) -> array.array:
        """Only on the "offline" back end: the next frames of the mix, interleaved left and
        right ("h" samples); their events are due."""
        samples = array.array("h", bytes(4 * _checked("frames", c_size_t, frames)))
        address = samples.buffer_info()[0]
        self._call("oggmix_render_offline", ctypes.cast(address, POINTER(ctypes.c_int16)),
                   frames)
        return samples

    @property
    def heard_frame(self) -> int:
        """The output frame being heard now."""
        return self._read_frame("oggmix_heard_frame")

    @property
    def mixed_frame(self) -> int:
        """The first output frame not yet mixed: the earliest a change can land on."""
        return self._read_frame("oggmix_mixed_frame")

    def _read_frame(self, name) -> int:
        frame = c_int64()
        self._call(name, byref(frame))
        return frame.value

    def when_heard(self, frame: int) -> float:
        """When output frame is (or was) heard, on time.monotonic()."""
        seconds = c_double()
        self._call("oggmix_when_heard", frame, byref(seconds))
        return time.monotonic() + seconds.value

    def set_master_volume(self, volume: float) -> int:
        self._call("oggmix_set_master_volume", volume)
        return self._read_frame("oggmix_landed_frame")

    def set_limiter(self, min_peak: int, max_peak: int, down: int, hold_frames: int) -> None:
        self._call("oggmix_set_limiter", min_peak, max_peak, down, hold_frames)

    def reset_limiter(self) -> None:
        self._call("oggmix_reset_limiter")

    def poll(self) -> List[Event]:
        """The events heard since the last poll, each once; the callback, if set, runs for
        each of them first. An exception the callback raised is raised here."""
        events = (_Event * self._POLL_ROOM)()
        count = c_size_t()
        polled = []
        while True:
            self._call("oggmix_poll", events, self._POLL_ROOM, byref(count))
            now = time.monotonic()
            polled += [self._event(events[i], now) for i in range(count.value)]
            if count.value < self._POLL_ROOM or self._handle is None:  # closed by the callback
                break
        if self._callback_error is not None:
            error, self._callback_error = self._callback_error, None
            raise error
        return polled

    def set_event_callback(self, callback: Optional[Callable[[Event], None]]) -> None:
        """callback(event) runs inside poll for each event; None removes it."""
        if callback is None:
            self._call("oggmix_set_event_callback", _EventCallback(), None)
            self._callback = None
            return
        if not callable(callback):
            raise TypeError(f"callback must be callable or None, not {type(callback).__name__}")
        player = weakref.ref(self)  # held by the library: no cycle keeps the player alive

        def on_event(event, _user_data):
            this = player()
            try:
                callback(this._event(event.contents, time.monotonic()))
            except Exception as error:  # ctypes cannot pass it through C: poll raises it
                if this._callback_error is None:
                    this._callback_error = error

        c_callback = _EventCallback(on_event)
        self._call("oggmix_set_event_callback", c_callback, None)
        self._callback = c_callback

    def _event(self, event: _Event, now: float) -> Event:
        track = Track(self, event.track) if event.track != 0 else None
        return Event(EventKind(event.kind), track, event.cue_index, event.frame,
                     now + event.seconds_from_now, event.bar, event.beat_in_bar, event.reason)

    def _device(self):
        available = c_int()
        status = c_char_p()
        self._call("oggmix_device_status", byref(available), byref(status))
        return bool(available.value), _text(status.value)

    @property
    def device_available(self) -> bool:
        """False while playing silently: no device from the start, or a lost one."""
        return self._device()[0]

    @property
    def device_status(self) -> str:
        """Empty when the device opened; otherwise why it could not be opened."""
        return self._device()[1]

    @property
    def backend_name(self) -> str:
        """The sound back end in use: "pulse", "sdl", "null", "wav", "manual" or "offline"."""
        name = c_char_p()
        self._call("oggmix_backend_name", byref(name))
        return _text(name.value)

    @property
    def dropped_events(self) -> int:
        """Events dropped unpolled since the player opened: past 65536 waiting, the oldest go."""
        dropped = c_uint64()
        self._call("oggmix_dropped_events", byref(dropped))
        return dropped.value

    def delivery(self):
        """(blocks handed to the sound device, those it had already passed: heard as gaps,
        the longest one pull of the device took in microseconds, calls refused for want of
        room)."""
        written = c_uint64()
        late = c_uint64()
        longest = c_int64()
        refused = c_uint64()
        self._call("oggmix_delivery", byref(written), byref(late), byref(longest), byref(refused))
        return written.value, late.value, longest.value, refused.value
