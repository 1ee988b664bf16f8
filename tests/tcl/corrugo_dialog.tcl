# corrugo_dialog.tcl --
#
#	Drives the Corrugo dialog as a user would: opens it, sets fields,
#	types into entries, presses Apply, Return and Escape, and checks the
#	twelve words that reach qorvel_go, here a stub that records them, and
#	the drawing of the wave, read back through its drawn axes.
#
# Usage: xvfb-run -a wish corrugo_dialog.tcl ?path/to/corrugo.tcl?
# Prints "N passed, M failed" last and exits non-zero on any failure.

source [file join [file dirname [info script]] in_tk.tcl]

source $script
set defaults [array get ::corrugo::S]
set f .corrugo.f

# qorvel_go --
#
#	Stands in for the plug-in's command: records each call's arguments.

proc ::qorvel_go {args} {
    lappend ::calls $args
    return "the command's own result"
}

# ::corrugo::selection_extent --
#
#	Stands in for the host's report of the selection along an axis: the
#	same range on every axis, set by the tests.

proc ::corrugo::selection_extent {axis} {
    return $::extent
}

# fresh --
#
#	Starts a test from a newly opened dialog holding the first values,
#	with no call recorded.

proc fresh {} {
    destroy .corrugo
    array set ::corrugo::S $::defaults
    set ::calls {}
    set ::bells 0
    set ::extent {0 10}
    qorvel_dialog
    update
}

# fill --
#
#	Replaces an entry's text, as selecting it all and typing would.

proc fill {entry text} {
    $entry delete 0 end
    $entry insert 0 $text
}

# press --
#
#	Sends keystrokes to a widget that has the focus; each key is a
#	character or, for longer names, a keysym such as Return.

proc press {w args} {
    focus -force $w
    update
    foreach key $args {
	if {[string length $key] > 1} {
	    event generate $w <KeyPress-$key>
	    if {[winfo exists $w]} {	;# not when the key closed it
		event generate $w <KeyRelease-$key>
	    }
	    continue
	}
	foreach char [split $key ""] {
	    set keysym [string map {- minus . period + plus " " space , comma} $char]
	    event generate $w <KeyPress> -keysym $keysym
	    event generate $w <KeyRelease> -keysym $keysym
	}
    }
    update
}

# bell --
#
#	Stands in for Tk's bell: counts the rings.

proc bell {args} {
    incr ::bells
}

# paste --
#
#	Pastes a text into an entry as Tk's <<Paste>> does, from the
#	clipboard, over the entry's text selected whole.

proc paste {entry text} {
    clipboard clear
    clipboard append $text
    focus -force $entry
    update
    $entry selection range 0 end
    event generate $entry <<Paste>>
    update
}

# states --
#
#	Returns, for each widget, whether it is disabled (1) or not (0).

proc states {args} {
    lmap w $args {$w instate disabled}
}

# curve --
#
#	Reads a drawn wave back through the drawn axes: at every "every"-th
#	of its points, the distance along the frequency axis as a fraction
#	of the drawing's width, and the displacement as a fraction of the
#	scale's top, each rounded to a thousandth. Nothing when it is not
#	drawn.
#
# Arguments:
#	tag	wave1 (the sine) or wave2 (the cosine)
#	every	how many points apart those read are (the drawing has 481)

proc curve {tag {every 120}} {
    set c .corrugo.f.profile
    update
    if {[$c find withtag $tag] eq ""} {
	return {}
    }
    lassign [$c coords zero] left zero right
    set top [lindex [$c coords scale] 1]
    set points {}
    set k 0
    foreach {x y} [$c coords $tag] {
	if {$k % $every == 0} {
	    lappend points [thousandths [expr {($x - $left) / ($right - $left)}]] \
		    [thousandths [expr {($zero - $y) / ($zero - $top)}]]
	}
	incr k
    }
    return $points
}

proc thousandths {x} {
    expr {round($x * 1000) / 1000.0}
}

# texts --
#
#	Returns the texts of the drawing's items with a tag, left to right,
#	or top to bottom for the scale.

proc texts {tag} {
    set c .corrugo.f.profile
    update
    set side [expr {$tag eq "scale" ? 1 : 0}]
    set found {}
    foreach item [$c find withtag $tag] {
	if {[$c type $item] eq "text"} {
	    lappend found [list [lindex [$c bbox $item] $side] [$c itemcget $item -text]]
	}
    }
    lmap pair [lsort -integer -index 0 $found] {lindex $pair 1}
}

# caption --
#
#	Returns the caption under the drawing, once it is up to date.

proc caption {} {
    update
    return $::corrugo::S(caption)
}

# drawing --
#
#	Returns everything drawn: each item's tags, coordinates, text and
#	colour, and the caption.

proc drawing {} {
    set c .corrugo.f.profile
    update
    list [lmap item [$c find all] {
	list [$c gettags $item] [$c coords $item] [$c itemcget $item -fill] \
		[expr {[$c type $item] eq "text" ? [$c itemcget $item -text] : ""}]
    }] [caption]
}

test opensDialog {the menu procedure opens one titled dialog} -setup fresh -body {
    list [winfo toplevel .corrugo] [wm title .corrugo] [winfo ismapped .corrugo] \
	    [focus -lastfor .corrugo]
} -result {.corrugo Corrugo 1 .corrugo.f.frequency}

test firstValuesShown {the first opening shows the first values} -setup fresh -body {
    list [$f.frequency get] [$f.amplitude1 get] [$f.amplitude2 get] \
	    [$f.decay1 get] [$f.decay2 get] [$f.offset1 get] [$f.offset2 get] \
	    [lmap w [list $f.units.extent $f.freqaxis.x $f.axis1.y $f.axis2.n \
		    $f.random1 $f.random2 $f.mode.replace] {$w instate selected}]
} -result {2 0.1 0.1 0 0 0 0 {1 1 1 1 0 0 1}}

test applySendsFirstValues {Apply sends the first values and keeps the dialog open} -setup fresh -body {
    list [$f.apply invoke] $::calls [winfo ismapped .corrugo]
} -result {{} {{x y n 2 0.1 0.1 0 0 0 0 0 0}} 1}

test applySendsFieldsInOrder {every field reaches its own place among the twelve} -setup fresh -body {
    $f.freqaxis.z invoke
    $f.axis1.x invoke
    $f.axis2.y invoke
    fill $f.frequency 3.5
    fill $f.amplitude1 -0.25
    fill $f.amplitude2 1e-2
    fill $f.decay1 50
    fill $f.decay2 100
    fill $f.offset1 25
    fill $f.offset2 75
    $f.mode.add invoke
    $f.units.unit invoke
    $f.apply invoke
    list $::calls [::corrugo::arguments]
} -result {{{z x y 3.5 -0.25 1e-2 50 100 25 75 1 1}} {z x y 3.5 -0.25 1e-2 50 100 25 75 1 1}}

test modeAndUnitsSendDigits {replace/add and the frequency unit send 0 or 1} -setup fresh -body {
    foreach mode {replace add} {
	foreach units {extent unit} {
	    $f.mode.$mode invoke
	    $f.units.$units invoke
	    $f.apply invoke
	}
    }
    lmap call $::calls {list [lindex $call 10] [lindex $call 11]}
} -result {{0 0} {0 1} {1 0} {1 1}}

test randomOffsetSendsWord {a random offset sends the word random and keeps the number} -setup fresh -body {
    $f.axis2.z invoke
    fill $f.offset1 30
    fill $f.offset2 40
    $f.random1 invoke
    $f.apply invoke
    set first [states $f.offset1 $f.offset2]
    $f.random2 invoke
    $f.apply invoke
    $f.random1 invoke
    $f.apply invoke
    list $first [states $f.offset1 $f.offset2] \
	    [lmap call $::calls {lrange $call 8 9}]
} -result {{1 0} {0 1} {{random 40} {random random} {30 random}}}

test numericEntriesRefuseLetters {keystrokes and pastes that cannot make a number are refused whole, with the bell and a note naming the field; a decimal comma is a point} -setup fresh -body {
    $f.axis2.z invoke
    set seen [lmap e {frequency amplitude1 amplitude2 decay1 decay2 offset1 offset2} {
	fill $f.$e ""
	press $f.$e a - x . 5 " " e q - 3 Z
	$f.$e get
    }]
    lappend seen $::bells $::corrugo::S(note)
    # The field, its text, what is typed or pasted there: what it holds,
    # the bells rung and the note.
    foreach {e text how} {
	frequency "" {press 1 , 5}
	decay1 "" {press 0 x 1 0}
	amplitude1 7 {paste 0x10}
	amplitude2 7 {paste 1,5}
	offset1 7 {paste 2.5}
    } {
	set ::bells 0
	fill $f.$e $text
	{*}[linsert $how 1 $f.$e]
	lappend seen [$f.$e get] $::bells $::corrugo::S(note)
    }
    set seen
} -result [concat [lrepeat 7 -.5e-3] 35 {{Cosine wave phase offset: "-.5e-3Z" is not a number (write one such as 1.5, -2 or 2.5e-3).}} {1.5 0 {Frequency: how many waves. "cycles over the selection" fits that many across the selected vertices; "cycles per model unit" counts waves per unit of length.} 010 1 {Sine wave decay: "0x" is not a number (write one such as 1.5, -2 or 2.5e-3).} 7 1 {Sine wave amplitude: "0x10" is not a number (write one such as 1.5, -2 or 2.5e-3).} 1.5 0 {Amplitude: how far each wave moves the vertices, in model units.} 2.5 0 {Phase offset (%): shifts the wave by that part of a cycle; Random picks a new offset for each object.}}]

test numberKeys {a refused key or paste changes nothing, selection included; a decimal comma is a point; a number beyond single precision is refused saying so; Up and Down step by the field's step} -setup fresh -body {
    # The field, its text, the part selected (first and last, or "" for
    # none, the cursor at the end), the keys typed or the text pasted:
    # what the field holds, whether a selection remains, the bells rung
    # and the start of the note.
    set seen {}
    foreach {e text selected how} {
	frequency 2 {0 end} {press n}
	frequency 12.5 {1 3} {press x}
	frequency 2 {0 end} {press 1 , 5}
	frequency 1e3 "" {press 9}
	frequency 2 {0 end} {paste 1e999}
	amplitude1 0.1 {0 end} {paste 2,25}
	frequency 2 "" {press Up Up}
	frequency 0.5 "" {press Down}
	amplitude1 0.1 "" {press Up}
	amplitude1 0.1 "" {press Down Down Down}
	amplitude1 1e-3 "" {press Up}
	decay1 0 "" {press Up}
	offset1 12.5 "" {press Down}
	amplitude1 3e38 "" {press Up}
	decay1 1e- "" {press Up}
    } {
	set ::bells 0
	fill $f.$e $text
	focus -force $f.$e
	update
	$f.$e icursor end
	if {$selected ne ""} {
	    $f.$e selection range {*}$selected
	}
	if {[lindex $how 0] eq "paste"} {
	    clipboard clear
	    clipboard append [lindex $how 1]
	    event generate $f.$e <<Paste>>
	} else {
	    press $f.$e {*}[lrange $how 1 end]
	}
	lappend seen [list [$f.$e get] [$f.$e selection present] $::bells \
		[lindex [split $::corrugo::S(note) :] 0]]
    }
    set seen
} -result {{2 1 1 Frequency} {12.5 1 1 Frequency} {1.5 0 0 Frequency} {1e3 0 1 Frequency} {2 1 1 Frequency} {2.25 0 0 Amplitude} {4 0 0 Frequency} {-0.5 0 0 Frequency} {0.15 0 0 Amplitude} {-0.05 0 0 Amplitude} {0.051 0 0 Amplitude} {5 0 0 {Decay (%)}} {7.5 0 0 {Phase offset (%)}} {3e+38 0 0 Amplitude} {1e- 0 0 {Sine wave decay}}}

test numberBeyondSinglePrecision {the note says why 1e39 is refused} -setup fresh -body {
    fill $f.frequency 1e3
    press $f.frequency 9
    set ::corrugo::S(note)
} -result {Frequency: 1e39 is beyond single precision, which the command keeps numbers in (at most 3.4e38 either way).}

test numericEntriesAcceptPartialNumbers {a number can be typed from an empty entry} -setup fresh -body {
    set seen {}
    fill $f.decay1 ""
    foreach key {+ 1 e - 7} {
	press $f.decay1 $key
	lappend seen [$f.decay1 get]
    }
    $f.decay1 insert end abc
    lappend seen [$f.decay1 get]
} -result {+ +1 +1e +1e- +1e-7 +1e-7}

test frequencyAxisUnavailableForWaves {the frequency axis is unavailable to both waves} -setup fresh -body {
    set seen {}
    foreach axis {y z x} {
	$f.freqaxis.$axis invoke
	lappend seen [states $f.axis1.x $f.axis1.y $f.axis1.z $f.axis1.n \
		$f.axis2.x $f.axis2.y $f.axis2.z $f.axis2.n]
    }
    set seen
} -result {{0 1 0 0 0 1 0 0} {0 0 1 0 0 0 1 0} {1 0 0 0 1 0 0 0}}

test noAxisDisablesWave {a wave that moves along no axis has its fields disabled} -setup fresh -body {
    set wave2 [list $f.amplitude2 $f.decay2 $f.offset2 $f.random2]
    set seen [list [states {*}$wave2]]
    $f.axis2.z invoke
    lappend seen [states {*}$wave2]
    $f.random2 invoke
    lappend seen [states {*}$wave2]
    $f.axis1.n invoke
    lappend seen [states $f.amplitude1 $f.decay1 $f.offset1 $f.random1]
} -result {{1 1 1 1} {0 0 0 0} {0 0 1 0} {1 1 1 1}}

test applySendsRejectedCombinations {Apply sends what the command will refuse, unchanged} -setup fresh -body {
    $f.freqaxis.y invoke
    $f.apply invoke
    fill $f.amplitude1 1e39
    $f.axis1.n invoke
    $f.apply invoke
    set ::calls
} -result {{y y n 2 0.1 0.1 0 0 0 0 0 0} {y n n 2 0.1 0.1 0 0 0 0 0 0}}

test applyWaitsForWholeNumbers {while a number is empty or unfinished, Apply and Return do nothing and the message line names the field} -setup fresh -body {
    $f.axis2.z invoke
    set seen {}
    foreach {entry text} {frequency "" amplitude1 - amplitude2 . decay1 1e- decay2 +
	    offset1 "" offset2 1e+} {
	set before [$f.$entry get]
	fill $f.$entry $text
	$f.apply invoke
	press $f.frequency Return
	lappend seen [list [$f.apply instate disabled] $::corrugo::S(note)]
	fill $f.$entry $before
    }
    # A random offset's number is not sent.
    fill $f.offset1 ""
    $f.random1 invoke
    lappend seen [list [$f.apply instate disabled] [lindex [split $::corrugo::S(note) :] 0]]
    $f.apply invoke
    # Nor are the numbers of a wave moving along no axis, greyed out: the
    # last number each held is sent, and drawn.
    fill $f.amplitude2 ""
    $f.axis2.n invoke
    update
    lappend seen [list [$f.apply instate disabled] [$f.caption instate disabled] \
	    [lindex [split $::corrugo::S(note) :] 0]]
    press $f.frequency Return
    list $seen $::calls
} -result {{{1 {Frequency: enter a number}} {1 {Sine wave amplitude: enter a number}} {1 {Cosine wave amplitude: enter a number}} {1 {Sine wave decay: enter a number}} {1 {Cosine wave decay: enter a number}} {1 {Sine wave phase offset: enter a number}} {1 {Cosine wave phase offset: enter a number}} {0 Frequency} {0 0 Frequency}} {{x y z 2 0.1 0.1 0 0 random 0 0 0} {x y n 2 0.1 0.1 0 0 random 0 0 0}}}

test labelsExplainThemselves {resting the pointer on a label shows its help, in the words of the list of fields in docs/dialog.md, on the message line, above why Apply is greyed} -setup fresh -body {
    set channel [open [file join [file dirname $::script] .. docs dialog.md]]
    set readme [regsub -all {\s+} [string map {** ""} [read $channel]] " "]
    close $channel
    fill $f.decay1 ""
    set seen {}
    foreach label {preset frequency freqaxis wave1 wave2 axis amplitude decay offset mode} {
	event generate $f.${label}Label <Enter>
	set help $::corrugo::S(note)
	event generate $f.${label}Label <Leave>
	# Why Apply is greyed stays in sight, under the help.
	lassign [split $help \n] help fix
	lappend seen [lindex [split $help :] 0] [expr {[string first $help $readme] >= 0
		&& $fix eq "Sine wave decay: enter a number"}]
    }
    lappend seen $::corrugo::S(note)
    # The fields themselves, for the keyboard's user too: the help of the
    # one that has the focus, unless a number is to be finished; of the
    # one under the pointer before anything else.
    fill $f.decay1 5
    foreach {w how} {
	offset1 focus units.unit focus presets.choice focus axis1.z focus
	amplitude2 <Enter> amplitude2 <Leave> random2 <Enter>
    } {
	if {$how eq "focus"} {
	    focus -force $f.$w
	    update
	} else {
	    event generate $f.$w $how
	}
	lappend seen [lindex [split $::corrugo::S(note) :] 0]
    }
    set seen
} -result {Preset 1 Frequency 1 {Runs along} 1 {Sine wave / Cosine wave} 1 {Sine wave / Cosine wave} 1 {Moves along} 1 Amplitude 1 {Decay (%)} 1 {Phase offset (%)} 1 Positions 1 {Sine wave decay: enter a number} {Phase offset (%)} Frequency Preset {Moves along} Amplitude {Moves along} {Phase offset (%)}}

test reopenRaisesSameDialog {opening again raises the one dialog} -setup fresh -body {
    set id [winfo id .corrugo]
    wm iconify .corrugo
    update
    qorvel_dialog
    update
    list [lsearch -all -inline [winfo children .] .corrugo*] \
	    [expr {[winfo id .corrugo] == $id}] [wm state .corrugo]
} -result {.corrugo 1 normal}

test closeWays {Escape, Close and the close box each close the dialog} -setup fresh -body {
    press $f.amplitude1 Escape
    set seen [winfo exists .corrugo]
    qorvel_dialog
    $f.close invoke
    lappend seen [winfo exists .corrugo]
    qorvel_dialog
    uplevel #0 [wm protocol .corrugo WM_DELETE_WINDOW]
    lappend seen [winfo exists .corrugo] $::calls
} -result {0 0 0 {}}

test reopenShowsLastValues {the dialog reopens with the values last used} -setup fresh -body {
    $f.freqaxis.y invoke
    $f.axis1.z invoke
    $f.axis2.n invoke
    fill $f.frequency 4
    fill $f.amplitude1 0.5
    $f.random1 invoke
    $f.mode.add invoke
    $f.units.unit invoke
    press $f.frequency Escape
    qorvel_dialog
    update
    list [$f.frequency get] [$f.amplitude1 get] [$f.offset1 get] \
	    [states $f.offset1 $f.amplitude2 $f.axis1.y] \
	    [lmap w [list $f.freqaxis.y $f.axis1.z $f.random1 $f.mode.add $f.units.unit] \
		{$w instate selected}] \
	    [::corrugo::arguments]
} -result {4 0.5 0 {1 1 1} {1 1 1 1 1} {y z n 4 0.5 0.1 0 0 random 0 1 1}}

test returnApplies {Return applies from any field and keeps the dialog open} -setup fresh -body {
    fill $f.decay1 10
    press $f.decay1 Return
    $f.axis1.z invoke
    press $f.axis1.z Return
    list $::calls [winfo exists .corrugo]
} -result {{{x y n 2 0.1 0.1 10 0 0 0 0 0} {x z n 2 0.1 0.1 10 0 0 0 0 0}} 1}

test keysFollowTheFocus {Return invokes the push button that has the focus, elsewhere Apply; Escape closes} -body {
    # Where the focus is and the key: the calls made, whether the dialog
    # and the window naming a preset are open.
    set seen {}
    foreach {w key} {
	decay1 Return axis1.z Return units.unit KP_Enter random1 Return
	apply Return presets.save Return close Return close KP_Enter
	presets.delete Return amplitude1 Escape
    } {
	fresh
	press $f.$w $key
	lappend seen [list $w [llength $::calls] [winfo exists .corrugo] \
		[winfo exists .corrugo.name]]
    }
    destroy .corrugo
    set seen
} -result {{decay1 1 1 0} {axis1.z 1 1 0} {units.unit 1 1 0} {random1 1 1 0} {apply 1 1 0} {presets.save 0 1 1} {close 0 0 0} {close 0 0 0} {presets.delete 0 1 0} {amplitude1 0 0 0}}

# tabStops --
#
#	Presses Tab from the frequency until the focus comes back to it,
#	and returns the widgets it stopped on, each with whether its focus
#	shows: a themed widget by a focus ring in its layout, or the cursor
#	or selection of an entry; a classic one by its highlight.

proc tabStops {} {
    set f .corrugo.f
    set stops {}
    focus -force $f.frequency
    update
    for {set k 0} {$k < 40} {incr k} {
	event generate [focus] <KeyPress> -keysym Tab
	update
	set w [focus]
	if {$w eq "$f.frequency"} {
	    break
	}
	set class [winfo class $w]
	if {[string match T* $class]} {
	    set shown [expr {[string match *focus* [ttk::style layout $class]]
		|| $class eq "TEntry" || $class eq "TCombobox"}]
	} else {
	    set shown [expr {[$w cget -highlightthickness] > 0}]
	}
	lappend stops [string range $w [string length $f.] end] $shown
    }
    return $stops
}

test tabVisitsWhatCanChange {Tab stops only on what the user can change, not on labels, the drawing or what is greyed out, and the focus shows on each} -setup fresh -body {
    tabStops
} -result {units.extent 1 units.unit 1 freqaxis.x 1 freqaxis.y 1 freqaxis.z 1 axis1.y 1 axis1.z 1 axis1.n 1 axis2.y 1 axis2.z 1 axis2.n 1 amplitude1 1 decay1 1 offset1 1 random1 1 mode.replace 1 mode.add 1 apply 1 close 1 presets.choice 1 presets.save 1}

test profileQuarterCycles {one cycle over the selection: a quarter of the way along is the full amplitude} -setup fresh -body {
    fill $f.frequency 1
    fill $f.amplitude1 1
    list [curve wave1] [curve wave2] [texts legend] [texts along] [texts scale] \
	    [texts message] [caption]
} -result {{0.0 0.0 0.25 1.0 0.5 0.0 0.75 -1.0 1.0 0.0} {} {{Sine → Y}} {0 {X from the lowest selected vertex to the highest} 10} {+1 0 −1} {} {Replace: the vertices are put on the curves, through the lowest selected vertex.
The plug-in here cannot show the selected vertices: the drawing is the wave alone.}}

test profileDecayFull {decay 100 % falls from full amplitude at the lowest vertex to nothing at the highest} -setup fresh -body {
    $f.axis1.n invoke
    $f.axis2.z invoke
    fill $f.frequency 1
    fill $f.amplitude2 2
    fill $f.decay2 100
    list [curve wave1] [curve wave2] [texts legend] [texts scale]
} -result {{} {0.0 1.0 0.25 0.0 0.5 -0.5 0.75 0.0 1.0 0.0} {{Cosine → Z}} {+2 0 −2}}

test profileOffset {an offset of 25 % is a part of the selection's length, or of a cycle per model unit} -setup fresh -body {
    fill $f.frequency 2
    fill $f.amplitude1 1
    fill $f.offset1 25
    set over [curve wave1 60]
    $f.units.unit invoke
    list $over [curve wave1 60]
} -result {{0.0 0.0 0.125 -1.0 0.25 0.0 0.375 1.0 0.5 0.0 0.625 -1.0 0.75 0.0 0.875 1.0 1.0 0.0} {0.0 1.0 0.125 0.0 0.25 -1.0 0.375 0.0 0.5 1.0 0.625 0.0 0.75 -1.0 0.875 0.0 1.0 1.0}}

test profilePerUnit {per model unit, one unit is drawn, with the decay over the whole selection} -setup fresh -body {
    $f.units.unit invoke
    fill $f.frequency 2
    fill $f.amplitude1 1
    fill $f.decay1 50
    set long [list [curve wave1 60] [texts along] [caption]]
    set ::extent {1 1.4}
    fill $f.decay1 0
    set points [curve wave1 60]
    list $long [lindex $points end-1] [llength $points] [texts along] [caption]
} -result {{{0.0 0.0 0.125 0.994 0.25 0.0 0.375 -0.981 0.5 0.0 0.625 0.969 0.75 0.0 0.875 -0.956 1.0 0.0} {0 {1 model unit along X from the lowest selected vertex} 1} {Replace: the vertices are put on the curves, through the lowest selected vertex.
The plug-in here cannot show the selected vertices: the drawing is the wave alone.}} 0.4 18 {0 {1 model unit along X from the lowest selected vertex} 1} {Replace: the vertices are put on the curves, through the lowest selected vertex.
The selection is 0.4 units long along X: the curves end there.
The plug-in here cannot show the selected vertices: the drawing is the wave alone.}}

test profileFollowsEveryField {every field's change redraws the wave at once} -setup fresh -body {
    $f.axis2.z invoke
    update
    set changed {}
    foreach change {
	{fill $f.frequency 3}
	{$f.units.unit invoke}
	{$f.freqaxis.y invoke; $f.axis1.x invoke}
	{$f.axis2.n invoke}
	{$f.axis2.z invoke}
	{fill $f.amplitude1 0.3}
	{fill $f.amplitude2 0.5}
	{fill $f.decay1 40}
	{fill $f.decay2 60}
	{fill $f.offset1 10}
	{fill $f.offset2 20}
	{$f.random1 invoke}
	{$f.random2 invoke}
	{$f.mode.add invoke}
	{wm geometry .corrugo 900x700}
    } {
	set before [drawing]
	eval $change
	lappend changed [expr {[drawing] ne $before}]
    }
    set changed
} -result [lrepeat 15 1]

test profileNoneNotDrawn {a wave that moves along no axis is not drawn; two such are the command's fault} -setup fresh -body {
    $f.axis2.z invoke
    set both [list [llength [curve wave1]] [llength [curve wave2]] [texts legend]]
    $f.axis1.n invoke
    set one [list [llength [curve wave1]] [llength [curve wave2]] [texts legend]]
    $f.axis2.n invoke
    list $both $one [curve wave2] [texts message]
} -result {{10 10 {{Sine → Y} {Cosine → Z}}} {0 10 {{Cosine → Z}}} {} {{Corrugo : the two amplitude axis should differ, both = 'n'}}}

test profileRandomOffset {a random offset draws the wave with offset 0, dashed and named in the legend} -setup fresh -body {
    set plain [curve wave1 1]
    fill $f.offset1 30
    set shifted [curve wave1 1]
    $f.random1 invoke
    list [expr {$shifted ne $plain}] [expr {[curve wave1 1] eq $plain}] \
	    [.corrugo.f.profile itemcget wave1 -dash] [texts legend] [lrange [::corrugo::arguments] 8 9]
} -result {1 1 {6 4} {{Sine → Y, random offset per object}} {random 0}}

test profileReplaceOrAdd {replace and add draw the same wave; the caption says which} -setup fresh -body {
    set replace [list [curve wave1 1] [caption]]
    $f.mode.add invoke
    list [expr {[curve wave1 1] eq [lindex $replace 0]}] [lindex $replace 1] [caption]
} -result {1 {Replace: the vertices are put on the curves, through the lowest selected vertex.
The plug-in here cannot show the selected vertices: the drawing is the wave alone.} {Add to the current positions: the curves are added to where the vertices are.
The plug-in here cannot show the selected vertices: the drawing is the wave alone.}}

test profilePendingGreyed {while a field is not yet a number the last wave stays, greyed} -setup fresh -body {
    set before [curve wave1 1]
    fill $f.frequency ""
    press $f.frequency 1 e -
    set c .corrugo.f.profile
    set fills [lsort -unique [lmap item [$c find all] {$c itemcget $item -fill}]]
    set greyed [list [expr {[curve wave1 1] eq $before}] [llength $fills] \
	    [lindex $fills 0] [$f.caption instate disabled]]
    press $f.frequency 1
    list $greyed [expr {[curve wave1 1] ne $before}] [$c itemcget wave1 -fill] \
	    [$f.caption instate disabled] [lindex $::calls end]
} -result {{1 1 #b4b8bc 1} 1 #1f5fa8 0 {}}

test profileCommandMessages {settings the command refuses show its message instead of curves} -setup fresh -body {
    $f.freqaxis.y invoke
    set same [list [texts message] [curve wave1] [caption]]
    $f.freqaxis.x invoke
    set ::corrugo::S(amplitude1) 1e39	;# not typed: the entry refuses it
    set large [texts message]
    fill $f.amplitude1 0.1
    list $same $large [texts message] [llength [curve wave1]]
} -result {{{{Corrugo : cannot apply frequency and amplitude to same axis}} {} {}} {{Corrugo : unable to parse 1e39 for amplitude 1}} {} 10}

test profileTooDense {beyond 20 cycles across the drawing the wave is said to be too dense} -setup fresh -body {
    fill $f.frequency 20
    set twenty [list [llength [curve wave1 1]] [texts message]]
    fill $f.frequency -20.5
    set more [list [curve wave1] [texts message]]
    $f.units.unit invoke
    set ::extent {0 0.5}
    fill $f.frequency 40
    list $twenty $more [llength [curve wave1 1]] [texts message]
} -result {{962 {}} {{} {{Too dense to draw: more than 20 cycles across the drawing.}}} 962 {}}

test profileWithoutHost {without the host's extent, or with nothing selected, the selection is taken as one unit} -setup fresh -body {
    rename ::corrugo::selection_extent hidden
    fill $f.frequency 1
    fill $f.amplitude1 1
    set unknown [list [curve wave1] [texts along] [caption]]
    rename hidden ::corrugo::selection_extent
    set ::extent {}
    fill $f.frequency 2
    set none [caption]
    set ::extent {3.5 3.5}
    fill $f.frequency 3
    list $unknown $none [caption] [curve wave1 1]
} -result {{{0.0 0.0 0.25 1.0 0.5 0.0 0.75 -1.0 1.0 0.0} {0 {X from the lowest selected vertex to the highest} 1} {Replace: the vertices are put on the curves, through the lowest selected vertex.
The selection's length along X is not known here: it is taken as 1 model unit.
The plug-in here cannot show the selected vertices: the drawing is the wave alone.}} {Replace: the vertices are put on the curves, through the lowest selected vertex.
Nothing is selected: the selection is taken as 1 model unit long.
The plug-in here cannot show the selected vertices: the drawing is the wave alone.} {Replace: the vertices are put on the curves, through the lowest selected vertex.
The selected vertices all lie at one X: each takes the value drawn at 0.
The plug-in here cannot show the selected vertices: the drawing is the wave alone.} {0.0 0.0 0.0 0.0}}

test profileGrowsWithDialog {the drawing takes the room a larger dialog gives} -setup fresh -body {
    update
    set c .corrugo.f.profile
    set small [list [winfo width $c] [winfo height $c]]
    wm geometry .corrugo [expr {[winfo width .corrugo] + 200}]x[expr {[winfo height .corrugo] + 100}]
    update
    lassign [$c coords zero] left zero right
    list [expr {[winfo width $c] - [lindex $small 0]}] [expr {[winfo height $c] - [lindex $small 1]}] \
	    [expr {round([winfo width $c] - $right)}]
} -result {200 100 12}

# The plug-in's preview, stood in for: each call's words are recorded, and
# the answer set is left where the plug-in leaves it.

proc stubPreview {args} {
    lappend ::previews $args
    set ::qorvel_preview_answer $::previewAnswer
}

# withPreview --
#
#	Starts a test from a fresh dialog in a host whose plug-in has
#	qorvel_preview, answering with "answer".

proc withPreview {answer} {
    set ::previews {}
    set ::previewAnswer $answer
    interp alias {} ::qorvel_preview {} stubPreview
    fresh
    settle
}

proc withoutPreview {} {
    interp alias {} ::qorvel_preview {}
    unset -nocomplain ::qorvel_preview_answer
}

# settle --
#
#	Waits out the pause after typing, and draws what it brings.

proc settle {} {
    update
    after [expr {$::corrugo::S(pause) + 30}]
    update
}

# plotted --
#
#	Reads back the dots of a tag through the drawn axes: each dot's
#	centre as coordinates along the frequency axis and up, given the
#	extent and the range drawn up. Rounded to millionths of the ranges.

proc plotted {tag extent range} {
    set c .corrugo.f.profile
    lassign [$c coords scale] left top - bottom
    set right [lindex [$c coords base] 2]
    lassign $extent low high
    lassign $range lowest highest
    set found {}
    foreach item [$c find withtag $tag] {
	lassign [$c coords $item] x0 y0 x1 y1
	set x [expr {($x0 + $x1) / 2.0}]
	set y [expr {($y0 + $y1) / 2.0}]
	lappend found \
		[millionths [expr {($x - $left) / ($right - $left)}]] \
		[millionths [expr {($bottom - $y) / ($bottom - $top)}]]
    }
    return $found
}

proc millionths {x} {
    expr {round($x * 1e6) / 1e6}
}

# expected --
#
#	What plotted should read for one wave's points of an answer, before
#	or after, worked out from the answer alone.

proc expected {answer i when extent range} {
    lassign $extent low high
    lassign $range lowest highest
    set found {}
    foreach {along b1 a1 b2 a2} [dict get $answer points] {
	set value [set [string index $when 0]$i]
	lappend found [millionths [expr {double($along - $low) / ($high - $low)}]] \
		[millionths [expr {double($value - $lowest) / ($highest - $lowest)}]]
    }
    return $found
}

set answer {status ok count 4 extent {-1 3}
    points {-1 2 2.5 0 0  0 2 1.5 0 0  3 2 2 0 0  1 1 0.25 0 0}}

test previewDrawsTheSelection {with qorvel_preview the drawing is the selected vertices, grey as they are and in colour after, at the coordinates the command answered} -setup {
    withPreview $answer
} -body {
    set c .corrugo.f.profile
    list [llength $::previews] [lindex $::previews end] \
	    [expr {[plotted before1 {-1 3} {0.25 2.5}] eq [expected $answer 1 before {-1 3} {0.25 2.5}]}] \
	    [expr {[plotted after1 {-1 3} {0.25 2.5}] eq [expected $answer 1 after {-1 3} {0.25 2.5}]}] \
	    [llength [$c find withtag after1]] [$c find withtag wave1] \
	    [$c itemcget [lindex [$c find withtag after1] 0] -fill] \
	    [$c itemcget [lindex [$c find withtag before1] 0] -fill] \
	    [texts legend] [texts along] [texts scale] [caption]
} -cleanup withoutPreview -result {1 {x y n 2 0.1 0.1 0 0 0 0 0 0} 1 1 4 {} #1f5fa8 #b4b8bc {{Sine → Y} {as they are}} {-1 {X of the selected vertices} 3} {2.5 0.25} {The 4 selected vertices along X: grey as they are, in colour where Apply puts them.}}

test previewBothAxesSampledAndNotFinite {both amplitude axes drawn; a sample of a larger selection is said so; what is not a finite number is left out} -setup {
    withPreview {status ok count 5000 extent {0 10}
	points {0 1 2 -1 -2  10 nan 1 0 inf  5 1 1 1 1}}
} -body {
    $f.axis2.z invoke
    settle
    set c .corrugo.f.profile
    list [llength [$c find withtag before1]] [llength [$c find withtag after1]] \
	    [llength [$c find withtag before2]] [llength [$c find withtag after2]] \
	    [$c itemcget [lindex [$c find withtag after2] 0] -fill] \
	    [plotted after2 {0 10} {-2 2}] [texts legend] [caption]
} -cleanup withoutPreview -result {2 3 3 2 #c2410c {0.0 0.0 0.5 0.75} {{Sine → Y} {Cosine → Z} {as they are}} {The 5000 selected vertices along X (3 of them drawn): grey as they are, in colour where Apply puts them.}}

test previewRandomOffsetIsOneDraw {with a random offset the caption says the drawing is one draw and each Apply draws anew} -setup {
    withPreview $answer
} -body {
    $f.random1 invoke
    settle
    set first [list [lindex $::previews end 8] [lindex [split [caption] \n] 1]]
    $f.random1 invoke
    $f.axis2.z invoke
    $f.random2 invoke
    settle
    list $first [lrange [lindex $::previews end] 8 9] [lindex [split [caption] \n] 1]
} -cleanup withoutPreview -result {{random {The random offsets shown are one draw: each Apply draws them anew.}} {0 random} {The random offsets shown are one draw: each Apply draws them anew.}}

test previewNothingSelected {with nothing selected the drawing is the wave's profile, and the caption says nothing is selected} -setup {
    withPreview {status error message {Corrugo : no vertices selected}}
} -body {
    set c .corrugo.f.profile
    list [llength [curve wave1]] [$c find withtag dot] [caption] [::corrugo::Apply] [lindex $::calls end]
} -cleanup withoutPreview -result {10 {} {Replace: the vertices are put on the curves, through the lowest selected vertex.
Nothing is selected: the selection is taken as 1 model unit long.} {} {x y n 2 0.1 0.1 0 0 0 0 0 0}}

test previewFaultIsTheCommandsMessage {a fault the command finds is shown as its message, and ::corrugo::preview raises it as a Tcl error} -setup {
    withPreview {status error message {Corrugo : something only the command knows}}
} -body {
    list [texts message] [caption] [catch {::corrugo::preview x y n 1 1 0 0 0 0 0 0 0} message] $message \
	    [lindex $::previews end]
} -cleanup withoutPreview -result {{{Corrugo : something only the command knows}} {} 1 {Corrugo : something only the command knows} {x y n 1 1 0 0 0 0 0 0 0}}

test previewAfterAPauseInTyping {the preview follows the fields once typing pauses, one call for a burst, greyed meanwhile; and again when the dialog gets the focus back or after Apply} -setup {
    withPreview $answer
} -body {
    set c .corrugo.f.profile
    set first [llength $::previews]
    press $f.frequency BackSpace 7
    press $f.amplitude1 End BackSpace 2
    set meanwhile [list [llength $::previews] [lsort -unique [lmap item [$c find withtag dot] {$c itemcget $item -fill}]]]
    settle
    set typed [list [llength $::previews] [lindex $::previews end]]
    focus -force .
    update
    focus -force $f.frequency
    settle
    set focused [llength $::previews]
    $f.apply invoke
    settle
    list $first $meanwhile $typed $focused [llength $::previews]
} -cleanup withoutPreview -result {1 {1 {{#b4b8bc}}} {2 {x y n 7 0.2 0.1 0 0 0 0 0 0}} 3 4}

# The layout at a scaling and a font size, in a process of its own (the
# scaling and the fonts are the whole application's): the widgets whose
# boxes overlap, the drawing's texts that overlap, the drawing's height
# and the radio indicators' size.
set layout {
    lassign $argv script scaling size folder
    set argv {}
    package require Tk
    wm withdraw .
    set env(XDG_CONFIG_HOME) $folder
    tk scaling $scaling
    foreach font {TkDefaultFont TkTextFont TkHeadingFont TkCaptionFont} {
	font configure $font -size $size
    }
    source $script
    proc qorvel_go {args} {}
    proc ::corrugo::selection_extent {axis} {return {0 10}}
    qorvel_dialog
    set f .corrugo.f
    $f.axis2.z invoke
    $f.random2 invoke
    update
    proc apart {boxes} {
	set found {}
	foreach {a box} $boxes {
	    lassign $box x0 y0 x1 y1
	    foreach {b other} $boxes {
		lassign $other u0 v0 u1 v1
		if {$a < $b && $x0 < $u1 && $u0 < $x1 && $y0 < $v1 && $v0 < $y1} {
		    lappend found [list $a $b]
		}
	    }
	}
	return $found
    }
    set boxes {}
    foreach w [winfo children $f] {
	if {[winfo ismapped $w]} {
	    lappend boxes $w [list [winfo x $w] [winfo y $w] \
		    [expr {[winfo x $w] + [winfo width $w]}] [expr {[winfo y $w] + [winfo height $w]}]]
	}
    }
    set c $f.profile
    set texts {}
    foreach item [$c find all] {
	if {[$c type $item] eq "text"} {
	    lappend texts [$c itemcget $item -text] [$c bbox $item]
	}
    }
    puts [list [apart $boxes] [apart $texts] [winfo height $c] \
	    [ttk::style lookup [$f.axis1.y cget -style] -indicatordiameter] \
	    [$f.note cget -wraplength]]
    exit
}

test scaledLayout {at tk scaling 2 with 18-point fonts nothing overlaps, the drawing's labels stand apart, and the drawing, the note's width and the indicators grow} -body {
    set program [file join [file dirname $::env(XDG_CONFIG_HOME)] layout.tcl]
    file mkdir [file dirname $program]
    set channel [open $program w]
    puts $channel $::layout
    close $channel
    set seen {}
    foreach {scaling size} {1 9 2 18} {
	lappend seen [exec [info nameofexecutable] $program $::script $scaling $size \
		[file join [file dirname $program] layout-$scaling]]
    }
    file delete $program
    lassign $seen small large
    list [lrange $small 0 1] [lrange $large 0 1] \
	    [expr {[lindex $large 2] > 1.8 * [lindex $small 2]}] \
	    [expr {[lindex $large 3] > 1.8 * [lindex $small 3]}] \
	    [expr {[lindex $large 4] > 1.8 * [lindex $small 4]}]
} -result {{{} {}} {{} {}} 1 1 1}

test noBackgroundErrors {no binding or callback raised an error} -body {
    set ::bgerrors
} -result {}

# tcltest's own summary would exit with status 0 under Tk, whatever failed.
set passed $::tcltest::numTests(Passed)
set failed $::tcltest::numTests(Failed)
puts "$passed passed, $failed failed"
exit [expr {$failed != 0}]
