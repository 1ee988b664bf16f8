# corrugo.tcl --
#
#	The Corrugo dialog: lets the user choose the wave's axes, frequency,
#	amplitudes, decays and phase offsets, and hands them to the qorvel_go
#	command as twelve text arguments. The Tools menu entry "Corrugo..."
#	runs qorvel_dialog.
#
#	Sourcing this file builds nothing, reads no file and does not load
#	Tk; the dialog is created on first use, raised when it is already
#	open, and remembers the values last used in this process. On its
#	first opening it reads the user's presets and the values last used
#	from the settings file (see ::corrugo::SettingsFile), which Apply,
#	Close, "Save as..." and "Delete" write again.
#
#	The modeller's Tk version is not known in advance. With Tk 8.5 or
#	newer the dialog uses themed widgets and draws the wave; with an
#	older Tk, qorvel_dialog opens a plain form with the same fields,
#	built only from what Tcl/Tk 8.4 offers, without the drawing, the
#	presets or the settings file.
#
# Widget paths (stable: tests drive the dialog through them; the plain
# form has the same ones, except those marked *):
#	.corrugo			the dialog's toplevel
#	.corrugo.f			the frame that fills it
#	.corrugo.f.presets.choice	* the preset chosen (a read-only list)
#	.corrugo.f.presets.save		* "Save as...": keeps the fields as a preset
#	.corrugo.f.presets.delete	* "Delete": removes the user's preset chosen
#	.corrugo.f.frequency		frequency entry (has the focus on opening)
#	.corrugo.f.units.extent		"cycles over the selection" (sends 0)
#	.corrugo.f.units.unit		"cycles per model unit" (sends 1)
#	.corrugo.f.freqaxis.{x,y,z}	axis the wave runs along
#	.corrugo.f.axis1.{x,y,z,n}	axis the sine wave moves (n: none)
#	.corrugo.f.axis2.{x,y,z,n}	axis the cosine wave moves (n: none)
#	.corrugo.f.amplitude1, .corrugo.f.amplitude2	amplitude entries
#	.corrugo.f.decay1, .corrugo.f.decay2		decay entries, percent
#	.corrugo.f.offset1, .corrugo.f.offset2		phase offset entries, percent
#	.corrugo.f.random1, .corrugo.f.random2		"Random" offset checkbuttons
#	.corrugo.f.mode.replace		replace the positions (sends 0)
#	.corrugo.f.mode.add		add to the current positions (sends 1)
#	.corrugo.f.apply		Apply, the default button (also <Return>);
#					disabled while a number is unfinished
#	.corrugo.f.close		Close (also <Escape> and the close box)
#	.corrugo.f.profile		* the drawing of the wave's profile; items
#					are tagged "wave1" and "wave2" (the
#					curves), "legend", "scale", "zero",
#					"along" and "message"
#	.corrugo.f.caption		* what the drawing shows, under it
#	.corrugo.f.note			the dialog's message line, at the bottom:
#					the help of the label under the pointer,
#					the number field to fix, or what is wrong
#					with the settings file
#	.corrugo.name			* the window "Save as..." opens: .entry
#					(the name), .message, .save, .cancel
#
# The values live in ::corrugo::S, keyed by the names above without the
# path (frequency, units, freqaxis, axis1, amplitude1, random1, mode...).
#
# The selection's length along the frequency axis is known only to the
# host. A host that can tell it defines the command
#	::corrugo::selection_extent axis
# returning the lowest and highest coordinate on that axis (x, y or z) of
# the vertices the command would move, or nothing when none is selected.
# Without it (the modeller itself offers no such command) the drawing
# takes the selection to be one model unit long, and says so.

# {==== Both forms: Tcl/Tk 8.4 only ====
# Everything up to the closing fence runs on the oldest Tk the dialog
# supports: no {*}, dict, lassign, apply, lmap, ttk, "in" or "ni", min()
# or max(), "binary format r", Tk's named fonts. A test scans this part.

namespace eval ::corrugo {
    variable S

    # Defaults are set once: sourcing the script again keeps what the
    # user last chose.
    if {![info exists S(W)]} {
	array set S {
	    W		.corrugo
	    frequency	2
	    units	0
	    freqaxis	x
	    axis1	y
	    axis2	n
	    amplitude1	0.1
	    amplitude2	0.1
	    decay1	0
	    decay2	0
	    offset1	0
	    offset2	0
	    random1	0
	    random2	0
	    mode	0
	    preset	""
	    presetShown	""
	    help	""
	    fix		""
	    trouble	""
	    note	""
	}
    }

    # The fields, and among them the numbers in the order qorvel_go reads
    # them, each with the name the message line gives it.
    array set S {
	fields		{frequency units freqaxis axis1 axis2 amplitude1
			amplitude2 decay1 decay2 offset1 offset2 random1
			random2 mode}
	numbers		{frequency Frequency
			amplitude1 "Sine wave amplitude"
			amplitude2 "Cosine wave amplitude"
			decay1 "Sine wave decay" decay2 "Cosine wave decay"
			offset1 "Sine wave phase offset"
			offset2 "Cosine wave phase offset"}
    }

    # What each label means, in the words of the README's list of fields;
    # shown on the message line while the pointer rests on the label.
    variable Help
    array set Help {
	preset	"Preset: fills every field at once; Save as... keeps the fields as a preset of your own, Delete removes one of yours."
	frequency "Frequency: how many waves. \"cycles over the selection\" fits that many across the selected vertices; \"cycles per model unit\" counts waves per unit of length."
	freqaxis "Runs along: the axis the wave travels along (X, Y or Z)."
	wave	"Sine wave / Cosine wave: two waves, each moving the vertices along its own axis."
	axis	"Moves along: the axis each wave moves the vertices along; None turns that wave off."
	amplitude "Amplitude: how far each wave moves the vertices, in model units."
	decay	"Decay (%): how much the wave fades towards the far end of the selection (0 not at all, 100 down to nothing)."
	offset	"Phase offset (%): shifts the wave by that part of a cycle; Random picks a new offset for each object."
	mode	"Positions: Replace puts the vertices on the wave through the lowest selected vertex; Add to the current positions adds the wave to where they are."
    }
}

# qorvel_dialog --
#
#	Run by the Tools menu entry "Corrugo...": opens the dialog, the plain
#	form when the running Tk is older than 8.5. The modeller always runs
#	with Tk loaded; a plain tclsh gets Tk loaded here, on first use, so
#	that sourcing stays free of it (without a display, Tk's own "no
#	display" error reaches the caller).

proc ::qorvel_dialog {} {
    if {[catch {package present Tk}]} {
	package require Tk
	wm withdraw .	;# the empty main window that comes with Tk
    }
    if {[package vcompare [package present Tk] 8.5] < 0} {
	::corrugo::PlainShow
    } else {
	::corrugo::show
    }
}

# ::corrugo::arguments --
#
#	Returns the twelve arguments that Apply passes to qorvel_go, in its
#	order: frequency axis, amplitude axes 1 and 2, frequency, amplitudes
#	1 and 2, decays 1 and 2, offsets 1 and 2 (or "random"), additive
#	(0 replace, 1 add) and frequency units (0 cycles over the selection,
#	1 cycles per model unit).

proc ::corrugo::arguments {} {
    variable S

    set result [list $S(freqaxis) $S(axis1) $S(axis2) $S(frequency) \
	    $S(amplitude1) $S(amplitude2) $S(decay1) $S(decay2)]
    foreach i {1 2} {
	if {$S(random$i)} {
	    lappend result random
	} else {
	    lappend result $S(offset$i)
	}
    }
    lappend result $S(mode) $S(units)
}

# ::corrugo::IsNumberPrefix --
#
#	Tells whether a text is a number or the start of one, so that an
#	entry can be emptied and a number typed character by character
#	("-", ".", "1e", "1e-" are all on the way to a number).
#
# Arguments:
#	text	the text the entry would hold

proc ::corrugo::IsNumberPrefix {text} {
    regexp {^[-+]?(\.|([0-9]+\.?[0-9]*|\.[0-9]+)([eE][-+]?[0-9]*)?)?$} $text
}

# ::corrugo::IsNumber --
#
#	Tells whether a text is a whole decimal number, as an entry holds it
#	once typing is done.

proc ::corrugo::IsNumber {text} {
    regexp {^[-+]?([0-9]+\.?[0-9]*|\.[0-9]+)([eE][-+]?[0-9]+)?$} $text
}

# ::corrugo::Unfinished --
#
#	Returns the first number field, in the command's order, that is
#	empty or still on the way to a number, or nothing when every one is
#	a number. A random offset's number is not sent, so it does not
#	count. A text that can lead to no number ("abc", set from outside)
#	is the command's to refuse.

proc ::corrugo::Unfinished {} {
    variable S
    foreach {key name} $S(numbers) {
	if {[regexp {^offset([12])$} $key -> i] && $S(random$i)} {
	    continue
	}
	if {[IsNumberPrefix $S($key)] && ![IsNumber $S($key)]} {
	    return $key
	}
    }
    return ""
}

# ::corrugo::ApplyState --
#
#	Enables Apply only when every number is whole, and names on the
#	message line the field to finish first.

proc ::corrugo::ApplyState {} {
    variable S
    set key [Unfinished]
    set button $S(W).f.apply
    if {$key eq ""} {
	set S(fix) ""
	set state normal
    } else {
	array set names $S(numbers)
	set S(fix) "$names($key): enter a number"
	set state disabled
    }
    if {[winfo exists $button]} {
	if {[winfo class $button] eq "TButton"} {
	    $button state [expr {$state eq "normal" ? "!disabled" : "disabled"}]
	} else {
	    $button configure -state $state
	}
    }
    ShowNote
}

# ::corrugo::ShowNote --
#
#	Fills the message line with what matters most now: the help of the
#	label under the pointer, else the number field to finish, else what
#	went wrong with the settings file.

proc ::corrugo::ShowNote {} {
    variable S
    foreach key {help fix trouble} {
	if {$S($key) ne ""} {
	    set S(note) $S($key)
	    return
	}
    }
    set S(note) ""
}

# ::corrugo::Explain --
#
#	Makes a label show its help on the message line while the pointer
#	rests on it.
#
# Arguments:
#	label	the label's widget path
#	topic	its entry in Help

proc ::corrugo::Explain {label topic} {
    bind $label <Enter> [namespace code [list Hover $topic]]
    bind $label <Leave> [namespace code [list Hover ""]]
}

proc ::corrugo::Hover {topic} {
    variable S
    variable Help
    if {$topic eq ""} {
	set S(help) ""
    } else {
	set S(help) $Help($topic)
    }
    ShowNote
}

# ::corrugo::PlainShow --
#
#	Opens the plain form, or brings it to the front when it is open.

proc ::corrugo::PlainShow {} {
    variable S
    if {![winfo exists $S(W)]} {
	PlainBuild
    }
    Front
}

# ::corrugo::Window --
#
#	Creates the dialog's window, of either form, which "close" closes.

proc ::corrugo::Window {w close} {
    toplevel $w -class Corrugo
    wm title $w "Corrugo"
    wm protocol $w WM_DELETE_WINDOW [namespace code $close]
}

# ::corrugo::Front --
#
#	Brings the open dialog, of either form, to the front with the
#	frequency selected, ready to be typed over.

proc ::corrugo::Front {} {
    variable S
    wm deiconify $S(W)
    raise $S(W)
    focus $S(W).f.frequency
    $S(W).f.frequency selection range 0 end
    $S(W).f.frequency icursor end
}

# ::corrugo::PlainBuild --
#
#	Creates the plain form from classic widgets, laid out as the full
#	dialog is, with the same widget paths, the same slots of S and the
#	same keys.

proc ::corrugo::PlainBuild {} {
    variable S
    set var [namespace which -variable S]
    set w $S(W)
    set f $w.f

    Window $w PlainClose
    frame $f -padx 12 -pady 10
    pack $f -fill both -expand 1

    PlainLabel $f.frequencyLabel "Frequency:" frequency
    PlainEntry $f.frequency frequency
    frame $f.units
    radiobutton $f.units.extent -text "cycles over the selection" \
	    -variable ${var}(units) -value 0
    radiobutton $f.units.unit -text "cycles per model unit" \
	    -variable ${var}(units) -value 1
    pack $f.units.extent $f.units.unit -side left

    PlainLabel $f.freqaxisLabel "Runs along:" freqaxis
    PlainAxes $f.freqaxis freqaxis {x X y Y z Z}
    PlainLabel $f.wave1Label "Sine wave" wave
    PlainLabel $f.wave2Label "Cosine wave" wave
    PlainLabel $f.axisLabel "Moves along:" axis
    PlainLabel $f.amplitudeLabel "Amplitude:" amplitude
    PlainLabel $f.decayLabel "Decay (%):" decay
    PlainLabel $f.offsetLabel "Phase offset (%):" offset
    foreach i {1 2} {
	PlainAxes $f.axis$i axis$i {x X y Y z Z n None}
	PlainEntry $f.amplitude$i amplitude$i
	PlainEntry $f.decay$i decay$i
	PlainEntry $f.offset$i offset$i
	checkbutton $f.random$i -text "Random" -variable ${var}(random$i)
    }

    PlainLabel $f.modeLabel "Positions:" mode
    frame $f.mode
    radiobutton $f.mode.replace -text "Replace" -variable ${var}(mode) -value 0
    radiobutton $f.mode.add -text "Add to the current positions" \
	    -variable ${var}(mode) -value 1
    pack $f.mode.replace $f.mode.add -side left

    button $f.apply -text "Apply" -default active -command [namespace code PlainApply]
    button $f.close -text "Close" -command [namespace code PlainClose]
    label $f.note -textvariable ${var}(note) -anchor w -justify left -wraplength 420

    grid $f.frequencyLabel $f.frequency x -sticky w -padx 4 -pady 2
    grid x $f.units - -sticky w -padx 4 -pady 2
    grid $f.freqaxisLabel $f.freqaxis - -sticky w -padx 4 -pady 2
    grid x $f.wave1Label $f.wave2Label -sticky w -padx 4 -pady 2
    grid $f.axisLabel $f.axis1 $f.axis2 -sticky w -padx 4 -pady 2
    grid $f.amplitudeLabel $f.amplitude1 $f.amplitude2 -sticky w -padx 4 -pady 2
    grid $f.decayLabel $f.decay1 $f.decay2 -sticky w -padx 4 -pady 2
    grid $f.offsetLabel $f.offset1 $f.offset2 -sticky w -padx 4 -pady 2
    grid x $f.random1 $f.random2 -sticky w -padx 4 -pady 2
    grid $f.modeLabel $f.mode - -sticky w -padx 4 -pady 2
    grid $f.note - - - -sticky w -padx 4 -pady 2
    grid $f.apply -row 0 -column 3 -sticky new -padx 4 -pady 2
    grid $f.close -row 1 -column 3 -sticky new -padx 4 -pady 2

    bind $w <Return> [list $f.apply invoke]
    bind $w <KP_Enter> [list $f.apply invoke]
    bind $w <Escape> [list $f.close invoke]

    trace remove variable $var write [namespace code PlainChanged]
    trace add variable $var write [namespace code PlainChanged]
    ApplyState
}

# ::corrugo::PlainLabel --
#
#	Creates a label that explains itself on the message line.
#
# Arguments:
#	path	the label's widget path
#	text	its text
#	topic	its entry in Help

proc ::corrugo::PlainLabel {path text topic} {
    label $path -text $text
    Explain $path $topic
}

# ::corrugo::PlainEntry --
#
#	Creates an entry for a number, bound to one slot of S, that refuses
#	keystrokes which cannot lead to a number.

proc ::corrugo::PlainEntry {path key} {
    entry $path -width 10 -textvariable [namespace which -variable S]($key) \
	    -validate key -validatecommand [namespace code [list IsNumberPrefix %P]]
}

# ::corrugo::PlainAxes --
#
#	Creates a frame of radiobuttons choosing an axis letter.
#
# Arguments:
#	path	the frame's widget path; each button is $path.letter
#	key	the slot in S that holds the letter
#	choices	a list of letters and their labels

proc ::corrugo::PlainAxes {path key choices} {
    frame $path
    foreach {letter label} $choices {
	radiobutton $path.$letter -text $label -value $letter \
		-variable [namespace which -variable S]($key)
	pack $path.$letter -side left
    }
}

# ::corrugo::PlainChanged --
#
#	Called on every write to S while the plain form is open.

proc ::corrugo::PlainChanged {name key op} {
    variable S
    if {[lsearch -exact $S(fields) $key] >= 0} {
	ApplyState
    }
}

# ::corrugo::PlainApply --
#
#	Deforms the selection with the form's values; the form stays open.
#	The button is disabled while a number is unfinished.

proc ::corrugo::PlainApply {} {
    eval [linsert [arguments] 0 qorvel_go]
    return
}

# ::corrugo::PlainClose --
#
#	Closes the plain form; the values stay in S for the next opening.

proc ::corrugo::PlainClose {} {
    variable S
    trace remove variable [namespace which -variable S] write \
	    [namespace code PlainChanged]
    destroy $S(W)
}

# }==== End of the part for Tcl/Tk 8.4 ====

# The full dialog, for Tk 8.5 and newer: themed widgets, the drawing of
# the wave, the presets and the settings file.

namespace eval ::corrugo {
    # The drawing: its first size, colours and how finely a curve is
    # sampled (24 points a cycle at the densest wave drawn).
    array set S {
	scheduled	0
	caption		""
	width		320
	height		140
	segments	480
	maxCycles	20
	background	#fbfbf8
	color1		#1f5fa8
	color2		#c2410c
	rule		#8a8f96
	ink		#3c4148
	greyed		#b4b8bc
	font		TkDefaultFont
    }

    # The presets that come with the dialog: each sets every field.
    variable BuiltIn {
	"Corrugated sheet" {frequency 10 units 0 freqaxis x axis1 y axis2 n
	    amplitude1 0.05 amplitude2 0 decay1 0 decay2 0 offset1 0 offset2 0
	    random1 0 random2 0 mode 0}
	"Roof tiles" {frequency 6 units 0 freqaxis x axis1 y axis2 n
	    amplitude1 0.15 amplitude2 0 decay1 0 decay2 0 offset1 0 offset2 0
	    random1 0 random2 0 mode 1}
	"Spring (helix)" {frequency 1 units 1 freqaxis z axis1 x axis2 y
	    amplitude1 0.3 amplitude2 0.3 decay1 0 decay2 0 offset1 0 offset2 0
	    random1 0 random2 0 mode 1}
	"Fading ripple" {frequency 4 units 0 freqaxis x axis1 y axis2 n
	    amplitude1 0.2 amplitude2 0 decay1 100 decay2 0 offset1 0 offset2 0
	    random1 0 random2 0 mode 1}
	"Wavy boards, each its own" {frequency 2 units 0 freqaxis y axis1 x
	    axis2 n amplitude1 0.2 amplitude2 0 decay1 0 decay2 0 offset1 0
	    offset2 0 random1 1 random2 0 mode 1}
    }

    # The user's presets, name to values, as read from the settings file.
    variable User
    if {![info exists User]} {
	set User {}
    }
}

# ::corrugo::show --
#
#	Opens the dialog, or brings it to the front when it is already open.
#	The first opening in a session reads the settings file.

proc ::corrugo::show {} {
    variable S

    if {![info exists S(file)]} {
	LoadSettings
    }
    if {![winfo exists $S(W)]} {
	Build
    }
    Front
}

# ::corrugo::Build --
#
#	Creates the dialog's widgets, bound to the slots of S, and lays them
#	out: the presets on top, one row per setting, the two waves side by
#	side, the buttons on the right, the drawing of the wave below,
#	growing with the dialog, and the message line last.

proc ::corrugo::Build {} {
    variable S
    set var [namespace which -variable S]
    set w $S(W)
    set f $w.f

    Window $w Close
    ttk::frame $f -padding {12 10}
    pack $f -fill both -expand 1

    # The preset chosen, and what can be done with it.
    Label $f.presetLabel "Preset:" preset
    ttk::frame $f.presets
    ttk::combobox $f.presets.choice -state readonly -width 28 \
	    -textvariable ${var}(presetShown)
    bind $f.presets.choice <<ComboboxSelected>> \
	    [namespace code {Choose [%W get]}]
    ttk::button $f.presets.save -text "Save as..." -command [namespace code SaveAs]
    ttk::button $f.presets.delete -text "Delete" -command [namespace code Delete]
    pack $f.presets.choice -side left -padx {0 8}
    pack $f.presets.save $f.presets.delete -side left -padx {0 4}

    # The frequency and the axis the wave runs along.
    Label $f.frequencyLabel "Frequency:" frequency
    NumberEntry $f.frequency frequency
    ttk::frame $f.units
    ttk::radiobutton $f.units.extent -text "cycles over the selection" \
	    -variable ${var}(units) -value 0
    ttk::radiobutton $f.units.unit -text "cycles per model unit" \
	    -variable ${var}(units) -value 1
    pack $f.units.extent $f.units.unit -side left -padx {0 8}

    Label $f.freqaxisLabel "Runs along:" freqaxis
    AxisButtons $f.freqaxis freqaxis {x X y Y z Z}

    # The two waves, one column each.
    Label $f.wave1Label "Sine wave" wave
    Label $f.wave2Label "Cosine wave" wave
    Label $f.axisLabel "Moves along:" axis
    Label $f.amplitudeLabel "Amplitude:" amplitude
    Label $f.decayLabel "Decay (%):" decay
    Label $f.offsetLabel "Phase offset (%):" offset
    foreach i {1 2} {
	AxisButtons $f.axis$i axis$i {x X y Y z Z n None}
	NumberEntry $f.amplitude$i amplitude$i
	NumberEntry $f.decay$i decay$i
	NumberEntry $f.offset$i offset$i
	ttk::checkbutton $f.random$i -text "Random" \
		-variable ${var}(random$i) -command [namespace code UpdateStates]
    }

    # Replace the positions on the amplitude axes, or add to them.
    Label $f.modeLabel "Positions:" mode
    ttk::frame $f.mode
    ttk::radiobutton $f.mode.replace -text "Replace" \
	    -variable ${var}(mode) -value 0
    ttk::radiobutton $f.mode.add -text "Add to the current positions" \
	    -variable ${var}(mode) -value 1
    pack $f.mode.replace $f.mode.add -side left -padx {0 8}

    ttk::button $f.apply -text "Apply" -default active \
	    -command [namespace code Apply]
    ttk::button $f.close -text "Close" -command [namespace code Close]

    canvas $f.profile -width $S(width) -height $S(height) \
	    -background $S(background) -highlightthickness 0
    ttk::label $f.caption -textvariable ${var}(caption) -justify left
    ttk::label $f.note -textvariable ${var}(note) -justify left -wraplength 460

    # Columns: labels, sine wave, cosine wave, buttons. Extra space above
    # the wave headings, the positions row and the drawing sets them apart.
    set pad {-sticky w -padx {0 12} -pady 2}
    grid $f.presetLabel $f.presets - {*}$pad -pady {0 10}
    grid $f.frequencyLabel $f.frequency x {*}$pad
    grid x $f.units - {*}$pad
    grid $f.freqaxisLabel $f.freqaxis - {*}$pad
    grid x $f.wave1Label $f.wave2Label {*}$pad -pady {10 2}
    grid $f.axisLabel $f.axis1 $f.axis2 {*}$pad
    grid $f.amplitudeLabel $f.amplitude1 $f.amplitude2 {*}$pad
    grid $f.decayLabel $f.decay1 $f.decay2 {*}$pad
    grid $f.offsetLabel $f.offset1 $f.offset2 {*}$pad
    grid x $f.random1 $f.random2 {*}$pad
    grid $f.modeLabel $f.mode - {*}$pad -pady {10 2}
    grid $f.profile - - - - -sticky nsew -pady {10 2}
    grid $f.caption - - - - -sticky w -pady {2 0}
    grid $f.note - - - - -sticky w -pady {6 0}
    grid $f.apply -row 1 -column 3 -sticky new -pady 2
    grid $f.close -row 2 -column 3 -sticky new -pady 2
    grid columnconfigure $f {1 2} -uniform wave
    grid columnconfigure $f 4 -weight 1	;# an empty column takes the growth
    grid rowconfigure $f $f.profile -weight 1

    bind $w <Return> [list $f.apply invoke]
    bind $w <KP_Enter> [list $f.apply invoke]
    bind $w <Escape> [list $f.close invoke]

    # The drawing follows every change of a field and of its own size, and
    # asks the host again for the selection when the dialog is come back to.
    trace remove variable $var write [namespace code FieldChanged]
    trace add variable $var write [namespace code FieldChanged]
    bind $f.profile <Configure> [namespace code Schedule]
    bind $w <FocusIn> [namespace code Schedule]

    UpdateStates
    PresetState
    ApplyState
    Schedule
    update idletasks
    wm minsize $w [winfo reqwidth $w] [winfo reqheight $w]
}

# ::corrugo::Label --
#
#	Creates a label that explains itself on the message line.
#
# Arguments:
#	path	the label's widget path
#	text	its text
#	topic	its entry in Help

proc ::corrugo::Label {path text topic} {
    ttk::label $path -text $text
    Explain $path $topic
}

# ::corrugo::NumberEntry --
#
#	Creates an entry for a number, bound to one slot of S, that refuses
#	keystrokes which cannot lead to a number.
#
# Arguments:
#	path	the entry's widget path
#	key	its slot in S

proc ::corrugo::NumberEntry {path key} {
    variable S
    ttk::entry $path -width 10 \
	    -textvariable [namespace which -variable S]($key) \
	    -validate key -validatecommand [namespace code [list IsNumberPrefix %P]]
}

# ::corrugo::AxisButtons --
#
#	Creates a frame of radiobuttons choosing an axis letter.
#
# Arguments:
#	path	the frame's widget path; each button is $path.letter
#	key	the slot in S that holds the letter
#	choices	a list of letters and their labels

proc ::corrugo::AxisButtons {path key choices} {
    ttk::frame $path
    foreach {letter label} $choices {
	ttk::radiobutton $path.$letter -text $label -value $letter \
		-variable [namespace which -variable S]($key) \
		-command [namespace code UpdateStates]
	pack $path.$letter -side left -padx {0 8}
    }
}

# ::corrugo::UpdateStates --
#
#	Shows which choices make sense: a wave cannot move vertices along the
#	axis it runs along, a wave moving along no axis has nothing to set,
#	and a random offset needs no number. This only guides; whatever is
#	chosen is still sent, and qorvel_go reports what it cannot use.

proc ::corrugo::UpdateStates {} {
    variable S
    set f $S(W).f

    foreach i {1 2} {
	foreach letter {x y z} {
	    $f.axis$i.$letter state \
		    [expr {$letter eq $S(freqaxis) ? "disabled" : "!disabled"}]
	}
	set none [expr {$S(axis$i) eq "n"}]
	foreach part {amplitude decay random} {
	    $f.$part$i state [expr {$none ? "disabled" : "!disabled"}]
	}
	$f.offset$i state \
		[expr {$none || $S(random$i) ? "disabled" : "!disabled"}]
    }
}

# ::corrugo::Apply --
#
#	Deforms the selection with the dialog's values and leaves the dialog
#	open for another try; the values are kept for the next session.
#	The button is disabled while a number is unfinished; otherwise every
#	combination is sent as it stands: qorvel_go checks the values and
#	tells the user what is wrong.

proc ::corrugo::Apply {} {
    qorvel_go {*}[arguments]
    SaveSettings
    return
}

# ::corrugo::Close --
#
#	Closes the dialog. The values stay in S for the next opening, and in
#	the settings file for the next session.

proc ::corrugo::Close {} {
    variable S
    SaveSettings
    destroy $S(W)
}

# ::corrugo::FieldChanged --
#
#	Called on every write to S: a change of a field redraws the wave,
#	enables or disables Apply and tells whether the preset still holds.
#
# Arguments:
#	name key op	as a variable trace gives them

proc ::corrugo::FieldChanged {name key op} {
    variable S
    if {$key in $S(fields)} {
	ApplyState
	PresetState
	Schedule
    }
}

# ::corrugo::Schedule --
#
#	Asks for the drawing to be brought up to date once the current event
#	is done: a burst of changes costs one drawing.

proc ::corrugo::Schedule {} {
    variable S
    if {!$S(scheduled)} {
	set S(scheduled) 1
	after idle [namespace code Draw]
    }
}

# ::corrugo::Draw --
#
#	Draws the wave the fields describe: its curves, or the command's
#	message when it would refuse them. While a field is not yet a number
#	the last drawing stays, greyed.

proc ::corrugo::Draw {} {
    variable S
    set S(scheduled) 0
    set c $S(W).f.profile
    if {![winfo exists $c]} {
	return
    }
    set settings [Settings]
    set status [dict get $settings status]
    $S(W).f.caption state [expr {$status eq "pending" ? "disabled" : "!disabled"}]
    if {$status eq "pending"} {
	$c itemconfigure all -fill $S(greyed)
	return
    }
    $c delete all
    if {$status eq "fault"} {
	set S(caption) ""
	Message $c [dict get $settings message]
	return
    }
    lassign [Extent [dict get $settings freqaxis]] length known
    set walk [Walk $settings $length]
    set S(caption) [Caption $walk $known]
    if {[dict get $walk cycles] > $S(maxCycles)} {
	Message $c "Too dense to draw: more than $S(maxCycles) cycles\
		across the drawing."
	return
    }
    set frame [Frame $c $walk]
    foreach i {1 2} {
	if {[dict get $walk axis$i] ne "n"} {
	    Curve $c $frame $i [Samples $walk $i] [dict get $walk random$i]
	}
    }
    Legend $c $walk
}

# ::corrugo::Settings --
#
#	Reads the fields as qorvel_go reads its twelve words, checking them
#	in its order. Returns a dictionary whose "status" is "ok", with the
#	values as the command holds them (single precision, percentages as
#	fractions, a random offset as 0); "pending" while a field is not yet
#	a number (typing "1e-"); or "fault", with the command's "message".

proc ::corrugo::Settings {} {
    variable S
    set f $S(freqaxis)
    set a1 $S(axis1)
    set a2 $S(axis2)
    # The command's own messages; the dialog cannot ask it without
    # running it.
    if {$f eq $a1 || $f eq $a2} {
	return {status fault
	    message "Corrugo : cannot apply frequency and amplitude to same axis"}
    }
    if {$a1 eq $a2} {
	return [list status fault message \
		"Corrugo : the two amplitude axis should differ, both = '$a1'"]
    }

    set settings [dict create status ok freqaxis $f axis1 $a1 axis2 $a2 \
	    additive [expr {[string index $S(mode) 0] ne "0"}] \
	    units [expr {[string index $S(units) 0] ne "0"}] \
	    offset1 0.0 offset2 0.0 random1 $S(random1) random2 $S(random2)]
    set numbers {frequency frequency amplitude1 "amplitude 1"
	amplitude2 "amplitude 2" decay1 "decay 1" decay2 "decay 2"}
    foreach i {1 2} {
	if {!$S(random$i)} {
	    lappend numbers offset$i "offset $i"
	}
    }
    foreach {key name} $numbers {
	lassign [ReadNumber $S($key)] status value
	if {$status eq "pending"} {
	    return {status pending}
	} elseif {$status eq "fault"} {
	    return [list status fault \
		    message "Corrugo : unable to parse $S($key) for $name"]
	}
	dict set settings $key $value
    }
    foreach key {decay1 decay2 offset1 offset2} {
	dict set settings $key \
		[Single [expr {[dict get $settings $key] * [Single 0.01]}]]
    }
    return $settings
}

# ::corrugo::ReadNumber --
#
#	Reads a field as the command reads a number: the decimal number at
#	its start, rounded to single precision; one too large for that is
#	refused. Returns "ok value", "pending" for a text on the way to a
#	number ("", "-", "1e-"), or "fault".
#
# Arguments:
#	text	the field's text

proc ::corrugo::ReadNumber {text} {
    set number {[-+]?([0-9]+\.?[0-9]*|\.[0-9]+)([eE][-+]?[0-9]+)?}
    if {![regexp "^$number\$" $text]} {
	if {[IsNumberPrefix $text]} {
	    return pending
	}
	# Not typed (the entries refuse it) but set some other way: the
	# command ignores what follows the number.
	if {![regexp "^\\s*($number)" $text -> text]} {
	    return fault
	}
    }
    set value [scan $text %g]	;# decimal even with leading zeros
    # Halfway between the largest float and the next power of two: from
    # there on a number rounds to infinity.
    if {abs($value) >= 3.4028235677973366e38} {
	return fault
    }
    list ok [Single $value]
}

# ::corrugo::Single --
#
#	Rounds a number to single precision, as the command stores it.

proc ::corrugo::Single {x} {
    binary scan [binary format r $x] r x
    return $x
}

# ::corrugo::Extent --
#
#	Returns the selection's length along an axis, as the command measures
#	it, and where it comes from: "length known" when the host told it,
#	"1.0 unknown" when the host cannot tell, "1.0 none" when nothing is
#	selected.
#
# Arguments:
#	axis	x, y or z

proc ::corrugo::Extent {axis} {
    set hook ::corrugo::selection_extent
    if {[info commands $hook] eq "" || [catch {$hook $axis} range]
	    || [catch {llength $range} count]} {
	return {1.0 unknown}
    }
    if {$count == 0} {
	return {1.0 none}
    }
    if {$count != 2 || [catch {
	lassign $range low high
	expr {double($high) - double($low)}
    } length] || !($length >= 0 && $length < Inf)} {
	return {1.0 unknown}
    }
    list $length known
}

# ::corrugo::Walk --
#
#	Returns the settings with what the command derives from them before
#	moving any vertex, given the selection's length: "freqsiz" and
#	"inverse", the frequency in cycles per model unit, the offsets in
#	cycles; and, for the drawing, "length" (the model units it spans),
#	"span" (the part of it the selection covers) and "cycles" (how many
#	the curves show).
#
# Arguments:
#	settings	as ::corrugo::Settings returns them
#	length		the selection's length along the frequency axis

proc ::corrugo::Walk {settings length} {
    set freqsiz [Single $length]
    set frequency [dict get $settings frequency]
    if {[dict get $settings units]} {
	set span [expr {min($length, 1.0)}]
	dict set settings length 1.0
    } else {
	# The frequency counts cycles over the selection, an offset is a
	# fraction of it.
	foreach i {1 2} {
	    dict set settings offset$i \
		    [Single [expr {[dict get $settings offset$i] * $frequency}]]
	}
	set frequency [expr {$length == 0 ? 0.0 : [Single [expr {$frequency / $length}]]}]
	set span $length
	dict set settings length [expr {$length == 0 ? 1.0 : $length}]
    }
    dict set settings frequency $frequency
    dict set settings freqsiz $freqsiz
    dict set settings inverse [expr {$freqsiz == 0 ? 0.0 : [Single [expr {1.0 / $freqsiz}]]}]
    dict set settings span $span
    dict set settings cycles [expr {abs($frequency) * $span}]
}

# ::corrugo::Samples --
#
#	Returns the displacement one wave gives at evenly spaced distances
#	from the lowest selected vertex, as "distance value" pairs: for each
#	the command's own arithmetic for a vertex at that distance.
#
# Arguments:
#	walk	as ::corrugo::Walk returns it
#	i	1 for the sine wave, 2 for the cosine wave

proc ::corrugo::Samples {walk i} {
    variable S
    dict with walk {}
    set offset [set offset$i]
    set decay [set decay$i]
    set amplitude [set amplitude$i]
    set radians [Single 0.017453292]
    set n [expr {$span == 0 ? 1 : $S(segments)}]
    set points {}
    for {set k 0} {$k <= $n} {incr k} {
	set d [Single [expr {$span * $k / $n}]]
	set math [expr {$freqsiz == 0 ? 1.0
		: [Single [expr {($freqsiz - $d) * $inverse}]]}]
	set angle [expr {($d * $frequency + $offset) * 360.0 * $radians}]
	set value [expr {($i == 1 ? sin($angle) : cos($angle))
		* (1.0 - (1.0 - $math) * $decay) * $amplitude}]
	# The sine wave's value is stored before it is added, the cosine
	# wave's is not: the command's own rounding (wave/apply.cpp, whose
	# comment says why; tests/tools/wave_reference.py derives the same
	# arithmetic independently for the tests).
	lappend points $d [expr {$i == 1 ? [Single $value] : $value}]
    }
    return $points
}

# ::corrugo::Reach --
#
#	Returns the largest displacement the drawn waves can give: the larger
#	amplitude, grown by a decay that ends beyond nothing or above full.
#
# Arguments:
#	walk	as ::corrugo::Walk returns it

proc ::corrugo::Reach {walk} {
    dict with walk {}
    set math [expr {$freqsiz == 0 ? 1.0 : ($freqsiz - $span) * $inverse}]
    set reach 0.0
    foreach i {1 2} {
	if {[set axis$i] ne "n"} {
	    set end [expr {abs(1.0 - (1.0 - $math) * [set decay$i])}]
	    set reach [expr {max($reach, abs([set amplitude$i]) * max(1.0, $end))}]
	}
    }
    return $reach
}

# ::corrugo::Frame --
#
#	Draws the axes: the displacement up, scaled to the larger amplitude,
#	with zero marked; the frequency axis to the right, from the lowest
#	selected vertex. Returns where they are, for ::corrugo::Curve.
#
# Arguments:
#	c	the canvas
#	walk	as ::corrugo::Walk returns it

proc ::corrugo::Frame {c walk} {
    variable S
    lassign [Size $c] width height
    set line [font metrics $S(font) -linespace]
    set reach [Reach $walk]
    set label [Number $reach]
    set left [expr {[font measure $S(font) "\u2212$label"] + 12}]
    set right [expr {$width - 12}]
    set top [expr {$line + 10}]
    set bottom [expr {$height - $line - 6}]
    set zero [expr {($top + $bottom) / 2.0}]
    set text [list -font $S(font) -fill $S(ink)]

    $c create line $left $top $left $bottom -fill $S(rule) -tags scale
    $c create line $left $zero $right $zero -fill $S(rule) -tags zero
    set marks [list $zero 0]
    if {$reach > 0} {
	lappend marks $top +$label $bottom \u2212$label
    }
    foreach {y mark} $marks {
	$c create text [expr {$left - 4}] $y -anchor e -text $mark {*}$text -tags scale
    }

    set axis [string toupper [dict get $walk freqaxis]]
    set y [expr {$bottom + 3}]
    set ends [list 0 [Number [dict get $walk length]]]
    if {[dict get $walk units]} {
	set along "1 model unit along $axis from the lowest selected vertex"
    } else {
	set along "$axis from the lowest selected vertex to the highest"
    }
    $c create text [expr {($left + $right) / 2.0}] $y -anchor n -text $along \
	    {*}$text -tags along
    $c create text $left $y -anchor n -text [lindex $ends 0] {*}$text -tags along
    $c create text $right $y -anchor ne -text [lindex $ends 1] {*}$text -tags along

    dict create left $left right $right zero $zero \
	    half [expr {$zero - $top}] reach [expr {$reach > 0 ? $reach : 1.0}] \
	    length [dict get $walk length]
}

# ::corrugo::Curve --
#
#	Draws one wave's samples in the frame: solid, or dashed when its
#	offset is drawn at random (the curve then shows offset 0).
#
# Arguments:
#	c	the canvas
#	frame	as ::corrugo::Frame returns it
#	i	1 for the sine wave, 2 for the cosine wave
#	points	as ::corrugo::Samples returns them
#	random	whether the offset is random

proc ::corrugo::Curve {c frame i points random} {
    variable S
    dict with frame {}
    set coords {}
    foreach {d value} $points {
	lappend coords [expr {$left + $d / $length * ($right - $left)}] \
		[expr {$zero - $value / $reach * $half}]
    }
    set dash [expr {$random ? {6 4} : {}}]
    $c create line $coords -fill $S(color$i) -width 2 -dash $dash \
	    -capstyle round -tags wave$i
}

# ::corrugo::Legend --
#
#	Names the axis each drawn wave moves the vertices along, in its
#	colour, across the top of the drawing.
#
# Arguments:
#	c	the canvas
#	walk	as ::corrugo::Walk returns it

proc ::corrugo::Legend {c walk} {
    variable S
    set x 10
    set y [expr {[font metrics $S(font) -linespace] / 2 + 4}]
    foreach i {1 2} name {Sine Cosine} {
	set axis [dict get $walk axis$i]
	if {$axis eq "n"} {
	    continue
	}
	set text "$name \u2192 [string toupper $axis]"
	set dash {}
	if {[dict get $walk random$i]} {
	    append text ", random offset per object"
	    set dash {6 4}
	}
	$c create line $x $y [expr {$x + 20}] $y -fill $S(color$i) -width 2 \
		-dash $dash -tags [list legend legend$i]
	set id [$c create text [expr {$x + 26}] $y -anchor w -text $text \
		-font $S(font) -fill $S(ink) -tags [list legend legend$i]]
	set x [expr {[lindex [$c bbox $id] 2] + 18}]
    }
}

# ::corrugo::Message --
#
#	Shows a text in the middle of the drawing, in place of curves.
#
# Arguments:
#	c	the canvas
#	text	the text

proc ::corrugo::Message {c text} {
    variable S
    lassign [Size $c] width height
    $c create text [expr {$width / 2.0}] [expr {$height / 2.0}] -text $text \
	    -width [expr {$width - 24}] -justify center -font $S(font) \
	    -fill $S(ink) -tags message
}

# ::corrugo::Size --
#
#	Returns the drawing's width and height: as asked for until it is on
#	the screen.

proc ::corrugo::Size {c} {
    if {[winfo ismapped $c]} {
	list [winfo width $c] [winfo height $c]
    } else {
	list [winfo reqwidth $c] [winfo reqheight $c]
    }
}

# ::corrugo::Caption --
#
#	Returns the text under the drawing: how the curves are placed, and
#	when it matters, what the drawing knows of the selection.
#
# Arguments:
#	walk	as ::corrugo::Walk returns it
#	known	known, unknown or none, as ::corrugo::Extent returns it

proc ::corrugo::Caption {walk known} {
    if {[dict get $walk additive]} {
	set caption "Add to the current positions: the curves are added to\
		where the vertices are."
    } else {
	set caption "Replace: the vertices are put on the curves, through the\
		lowest selected vertex."
    }
    set axis [string toupper [dict get $walk freqaxis]]
    set length [dict get $walk span]
    switch $known {
	unknown {
	    append caption "\nThe selection's length along $axis is not known\
		    here: it is taken as 1 model unit."
	}
	none {
	    append caption "\nNothing is selected: the selection is taken as\
		    1 model unit long."
	}
	default {
	    if {$length == 0} {
		append caption "\nThe selected vertices all lie at one $axis:\
			each takes the value drawn at 0."
	    } elseif {[dict get $walk units] && $length < 1} {
		append caption "\nThe selection is [Number $length] units long\
			along $axis: the curves end there."
	    }
	}
    }
    return $caption
}

# ::corrugo::Number --
#
#	Formats a length or displacement for the drawing's labels.

proc ::corrugo::Number {x} {
    format %.4g $x
}

# {==== The settings file ====
# The user's presets and the values last used, kept between sessions in
# one small file of plain Tcl list text:
#
#	# comment lines
#	corrugo-settings 1
#	last {frequency 2 units 0 ...}
#	presets {
#	    {My sheet} {frequency 5 units 0 ...}
#	}
#
# It is read as data and checked field by field, never run: a file that
# someone else wrote can set values but do nothing else. A file that
# cannot be read or checked is left alone for the whole session (what the
# user saved in it is not overwritten), and the message line says why.
# It is written whole or not at all: into a new file beside it, renamed
# over it once complete.

# ::corrugo::SettingsFile --
#
#	Returns where the settings file lives: under %APPDATA% on Windows,
#	else under $XDG_CONFIG_HOME or, without it, the home folder's
#	.config. Nothing when no such folder is set. The home folder comes
#	from the environment: Tcl 9 no longer expands "~".

proc ::corrugo::SettingsFile {} {
    global env tcl_platform
    if {$tcl_platform(platform) eq "windows"} {
	set base [Absolute APPDATA]
	set folder Corrugo
    } else {
	set base [Absolute XDG_CONFIG_HOME]
	if {$base eq "" && [Absolute HOME] ne ""} {
	    set base [file join [Absolute HOME] .config]
	}
	set folder corrugo
    }
    if {$base eq ""} {
	return ""
    }
    file join $base $folder settings.tcl
}

# ::corrugo::Absolute --
#
#	Returns an environment variable's value when it is an absolute path
#	(the XDG rules ignore a relative one), else nothing.

proc ::corrugo::Absolute {name} {
    global env
    if {[info exists env($name)] && [file pathtype $env($name)] eq "absolute"} {
	return $env($name)
    }
    return ""
}

# ::corrugo::LoadSettings --
#
#	Reads the settings file into S and User, once a session. A missing
#	file leaves the first values; any other fault leaves them too, marks
#	the file as not to be written and says why on the message line.

proc ::corrugo::LoadSettings {} {
    variable S
    variable User
    set S(file) [SettingsFile]
    set S(writable) 0
    set S(trouble) ""
    if {$S(file) eq ""} {
	set S(trouble) "Settings are not kept: no home folder is set."
    } elseif {[catch {file type $S(file)}]} {
	set S(writable) 1
    } elseif {[catch {ReadSettings $S(file)} settings]} {
	set S(trouble) "Settings not read from $S(file): $settings.\
		The dialog starts from its first values and leaves the file as it is."
    } else {
	array set S [dict get $settings last]
	set User [dict get $settings presets]
	if {[ReadOnly $S(file)]} {
	    set S(trouble) "$S(file) is read-only: settings changed here are not kept."
	} else {
	    set S(writable) 1
	}
    }
    ShowNote
}

# ::corrugo::ReadSettings --
#
#	Reads and checks a settings file. Returns a dictionary with "last"
#	(the values last used) and "presets" (name to values); raises an
#	error saying what is wrong and where.
#
# Arguments:
#	path	the file

proc ::corrugo::ReadSettings {path} {
    if {[catch {
	set channel [open $path r]
	fconfigure $channel -encoding utf-8
	set text [read $channel]
	close $channel
    } message options]} {
	catch {close $channel}
	set code [dict get $options -errorcode]
	if {[lindex $code 0] eq "POSIX"} {
	    set message [string tolower [lindex $code 2]]
	}
	return -code error $message
    }
    # Comment lines become empty ones, so that line numbers still hold.
    set lines [lmap line [split $text \n] {
	expr {[string match #* [string trimleft $line]] ? "" : $line}
    }]
    set text [join $lines \n]
    if {![string is list -failindex at $text]} {
	set line [regexp -all \n [string range $text 0 $at-1]]
	return -code error "line [incr line]: not a Tcl list (an unmatched brace or quote)"
    }
    if {[llength $text] % 2 != 0 || [lindex $text 0] ne "corrugo-settings"} {
	return -code error "not a Corrugo settings file"
    }
    set settings [dict create {*}$text]
    if {[dict get $settings corrugo-settings] ne "1"} {
	return -code error "settings format\
		\"[dict get $settings corrugo-settings]\" is not known to this Corrugo"
    }
    foreach key [dict keys $settings] {
	if {$key ni {corrugo-settings last presets}} {
	    return -code error "unknown entry \"$key\""
	}
    }
    if {![dict exists $settings last]} {
	return -code error "no entry \"last\""
    }
    set last [CheckValues "last values" [dict get $settings last]]
    set presets {}
    if {[dict exists $settings presets]} {
	set given [dict get $settings presets]
	if {![string is list $given] || [llength $given] % 2 != 0} {
	    return -code error "presets: not a list of names and values"
	}
	foreach {name values} $given {
	    if {[string trim $name] eq "" || [IsBuiltIn $name]
		    || [dict exists $presets $name]} {
		return -code error "preset \"$name\": the name is empty, built in or repeated"
	    }
	    dict set presets $name [CheckValues "preset \"$name\"" $values]
	}
    }
    dict create last $last presets $presets
}

# ::corrugo::CheckValues --
#
#	Checks that a list names every field once with a value it may hold,
#	and nothing else. Returns the values in the fields' order; raises an
#	error naming the faulty field.
#
# Arguments:
#	where	what the values are, for the message
#	values	field and value pairs

proc ::corrugo::CheckValues {where values} {
    variable S
    if {![string is list $values] || [llength $values] % 2 != 0} {
	return -code error "$where: not a list of fields and values"
    }
    set given [dict create {*}$values]
    if {[dict size $given] != [llength $values] / 2} {
	return -code error "$where: a field is given twice"
    }
    set checked {}
    foreach key $S(fields) {
	if {![dict exists $given $key]} {
	    return -code error "$where: no value for $key"
	}
	set value [dict get $given $key]
	switch -glob -- $key {
	    freqaxis		{set allowed {x y z}}
	    axis?		{set allowed {x y z n}}
	    units - random? - mode {set allowed {0 1}}
	    default		{set allowed {}}
	}
	if {$allowed eq ""} {
	    if {![IsNumber $value]} {
		return -code error "$where: $key \"$value\" is not a number"
	    }
	} elseif {$value ni $allowed} {
	    return -code error "$where: $key \"$value\" is not one of [join $allowed {, }]"
	}
	dict set checked $key $value
	dict unset given $key
    }
    if {[dict size $given] > 0} {
	return -code error "$where: unknown field \"[lindex [dict keys $given] 0]\""
    }
    return $checked
}

# ::corrugo::ReadOnly --
#
#	Tells whether a file is read-only. Without any write permission it
#	counts as read-only even for a user who could still write it (root),
#	as editors ask first.

proc ::corrugo::ReadOnly {path} {
    global tcl_platform
    if {![file writable $path]} {
	return 1
    }
    if {$tcl_platform(platform) eq "windows"} {
	return [file attributes $path -readonly]
    }
    expr {([scan [file attributes $path -permissions] %o] & 0222) == 0}
}

# ::corrugo::SaveSettings --
#
#	Writes the values in the fields and the user's presets to the
#	settings file, unless reading it failed; a failure to write is told
#	on the message line, and the file keeps what it held.

proc ::corrugo::SaveSettings {} {
    variable S
    if {![info exists S(file)] || !$S(writable)} {
	return
    }
    if {[catch {WriteSettings $S(file) [SettingsText]} message]} {
	set S(trouble) "Settings not saved to $S(file): $message."
    } else {
	set S(trouble) ""
    }
    ShowNote
}

# ::corrugo::SettingsText --
#
#	Returns the settings file's text for the fields and the user's
#	presets, one preset a line.

proc ::corrugo::SettingsText {} {
    variable S
    variable User
    set text "# Corrugo's settings: the dialog's last values and your presets.\n"
    append text "# The dialog reads this file as data and rewrites it whole.\n"
    append text "corrugo-settings 1\n"
    append text "last [list [FieldValues]]\n"
    append text "presets \{\n"
    dict for {name values} $User {
	append text "    [list $name] [list $values]\n"
    }
    append text "\}\n"
}

# ::corrugo::WriteSettings --
#
#	Replaces a file with a text, whole or not at all: the text goes to a
#	new file beside it, which takes the old file's permissions and is
#	then renamed over it. A symbolic link is followed, so the link stays.
#
# Arguments:
#	path	the file
#	text	its new content

proc ::corrugo::WriteSettings {path text} {
    set hops 0
    while {![catch {file type $path} type] && $type eq "link" && [incr hops] < 20} {
	set path [file join [file dirname $path] [file readlink $path]]
    }
    if {[file exists $path] && ![file isfile $path]} {
	return -code error "it is not a file"
    }
    if {[file exists $path] && [ReadOnly $path]} {
	return -code error "it is read-only"
    }
    set temporary $path.[pid].new
    if {[catch {
	file mkdir [file dirname $path]
	set channel [open $temporary {WRONLY CREAT EXCL}]
	fconfigure $channel -encoding utf-8 -translation lf
	puts -nonewline $channel $text
	close $channel
	if {[file exists $path] && $::tcl_platform(platform) ne "windows"} {
	    file attributes $temporary -permissions \
		    [file attributes $path -permissions]
	}
	file rename -force $temporary $path
    } message options]} {
	catch {close $channel}
	catch {file delete $temporary}
	set code [dict get $options -errorcode]
	if {[lindex $code 0] eq "POSIX"} {
	    set message [string tolower [lindex $code 2]]
	}
	return -code error $message
    }
}

# }==== The settings file ====

# {==== Presets ====
# A preset sets every field at once; choosing one applies nothing. The
# built-in ones come with the dialog and cannot be changed; the user's
# own are kept in the settings file.

# ::corrugo::PresetNames --
#
#	Returns the names offered: the built-in presets, then the user's in
#	dictionary order.

proc ::corrugo::PresetNames {} {
    variable BuiltIn
    variable User
    concat [dict keys $BuiltIn] [lsort -dictionary [dict keys $User]]
}

proc ::corrugo::IsBuiltIn {name} {
    variable BuiltIn
    dict exists $BuiltIn $name
}

# ::corrugo::PresetValues --
#
#	Returns a preset's values, or nothing when there is no such preset.

proc ::corrugo::PresetValues {name} {
    variable BuiltIn
    variable User
    foreach presets [list $BuiltIn $User] {
	if {[dict exists $presets $name]} {
	    return [dict get $presets $name]
	}
    }
    return ""
}

# ::corrugo::Choose --
#
#	Fills every field from a preset; nothing is applied.
#
# Arguments:
#	name	the preset's name

proc ::corrugo::Choose {name} {
    variable S
    set values [PresetValues $name]
    if {$values eq ""} {
	return
    }
    set S(preset) $name
    array set S $values
    UpdateStates
    PresetState
}

# ::corrugo::PresetState --
#
#	Shows the preset chosen, marked as modified once a field differs
#	from it, and lets only the user's own presets be deleted.

proc ::corrugo::PresetState {} {
    variable S
    set values [PresetValues $S(preset)]
    if {$values eq ""} {
	set S(preset) ""
	set S(presetShown) ""
    } elseif {[Differs $values]} {
	set S(presetShown) "$S(preset) (modified)"
    } else {
	set S(presetShown) $S(preset)
    }
    set p $S(W).f.presets
    if {[winfo exists $p]} {
	$p.choice configure -values [PresetNames]
	$p.delete state [expr {$values eq "" || [IsBuiltIn $S(preset)]
		? "disabled" : "!disabled"}]
    }
}

# ::corrugo::FieldValues --
#
#	Returns the fields' values as a preset holds them: field and value
#	pairs, in the fields' order.

proc ::corrugo::FieldValues {} {
    variable S
    concat {*}[lmap key $S(fields) {list $key $S($key)}]
}

# ::corrugo::Differs --
#
#	Tells whether a field holds another value than a preset gives it.

proc ::corrugo::Differs {values} {
    variable S
    dict for {key value} $values {
	if {$S($key) ne $value} {
	    return 1
	}
    }
    return 0
}

# ::corrugo::SaveAs --
#
#	Asks for a name under which to keep the fields as a preset of the
#	user's own, in a small window over the dialog.

proc ::corrugo::SaveAs {} {
    variable S
    set w $S(W).name
    if {[winfo exists $w]} {
	raise $w
	return
    }
    set var [namespace which -variable S]
    set S(newName) [expr {[IsBuiltIn $S(preset)] ? "" : $S(preset)}]
    set S(nameMessage) ""

    toplevel $w -class Corrugo
    wm title $w "Save preset"
    wm transient $w $S(W)
    wm protocol $w WM_DELETE_WINDOW [list destroy $w]
    ttk::frame $w.f -padding {12 10}
    ttk::label $w.f.label -text "Name of the preset:"
    ttk::entry $w.entry -width 32 -textvariable ${var}(newName)
    ttk::label $w.message -textvariable ${var}(nameMessage) -justify left
    ttk::button $w.save -text "Save" -default active \
	    -command [namespace code NameGiven]
    ttk::button $w.cancel -text "Cancel" -command [list destroy $w]
    pack $w.f -fill both -expand 1
    grid $w.f.label - -in $w.f -sticky w
    grid $w.entry - -in $w.f -sticky ew -pady 4
    grid $w.message - -in $w.f -sticky w
    grid $w.save $w.cancel -in $w.f -sticky e -pady {8 0} -padx {8 0}
    bind $w <Return> [list $w.save invoke]
    bind $w <KP_Enter> [list $w.save invoke]
    bind $w <Escape> [list $w.cancel invoke]
    focus $w.entry
    $w.entry selection range 0 end
}

# ::corrugo::NameGiven --
#
#	Keeps the fields under the name given, after asking before it
#	replaces one of the user's presets; a built-in name or an empty one
#	is refused in the name window, which stays open.

proc ::corrugo::NameGiven {} {
    variable S
    variable User
    set w $S(W).name
    set name [string trim $S(newName)]
    if {$name eq ""} {
	set S(nameMessage) "Enter a name for the preset."
	return
    }
    if {[IsBuiltIn $name]} {
	set S(nameMessage) "\"$name\" is a built-in preset: choose another name."
	return
    }
    if {[dict exists $User $name] && [tk_messageBox -parent $w -title "Corrugo" \
	    -icon question -type yesno -default no \
	    -message "Replace the preset \"$name\"?"] ne "yes"} {
	return
    }
    dict set User $name [FieldValues]
    destroy $w
    set S(preset) $name
    PresetState
    SaveSettings
}

# ::corrugo::Delete --
#
#	Removes the user's preset chosen, after asking.

proc ::corrugo::Delete {} {
    variable S
    variable User
    set name $S(preset)
    if {![dict exists $User $name] || [tk_messageBox -parent $S(W) \
	    -title "Corrugo" -icon question -type yesno -default no \
	    -message "Delete the preset \"$name\"?"] ne "yes"} {
	return
    }
    dict unset User $name
    set S(preset) ""
    PresetState
    SaveSettings
}

# }==== Presets ====
