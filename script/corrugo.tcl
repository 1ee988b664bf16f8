# corrugo.tcl --
#
#	The Corrugo dialog: lets the user choose the wave's axes, frequency,
#	amplitudes, decays and phase offsets, and hands them to the qorvel_go
#	command as twelve text arguments. The Tools menu entry "Corrugo..."
#	runs qorvel_dialog.
#
#	Sourcing this file builds nothing and does not load Tk; the dialog is
#	created on first use, raised when it is already open, and remembers
#	the values last used in this process.
#
# Widget paths (stable: tests drive the dialog through them):
#	.corrugo			the dialog's toplevel
#	.corrugo.f			the frame that fills it
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
#	.corrugo.f.apply		Apply, the default button (also <Return>)
#	.corrugo.f.close		Close (also <Escape> and the close box)
#
# The values live in ::corrugo::S, keyed by the names above without the
# path (frequency, units, freqaxis, axis1, amplitude1, random1, mode...).

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
	}
    }
}

# ::corrugo::show --
#
#	Opens the dialog, or brings it to the front when it is already open.
#	The modeller always runs with Tk loaded; a plain tclsh gets Tk loaded
#	here, on first use, so that sourcing stays free of it (without a
#	display, Tk's own "no display" error reaches the caller).

proc ::corrugo::show {} {
    variable S

    if {[catch {package present Tk}]} {
	package require Tk
	wm withdraw .	;# the empty main window that comes with Tk
    }
    if {![winfo exists $S(W)]} {
	Build
    }
    wm deiconify $S(W)
    raise $S(W)
    focus $S(W).f.frequency
    $S(W).f.frequency selection range 0 end
    $S(W).f.frequency icursor end
}

# ::corrugo::Build --
#
#	Creates the dialog's widgets, bound to the slots of S, and lays them
#	out: one row per setting, the two waves side by side, the buttons
#	on the right.

proc ::corrugo::Build {} {
    variable S
    set var [namespace which -variable S]
    set w $S(W)
    set f $w.f

    toplevel $w -class Corrugo
    wm title $w "Corrugo"
    wm resizable $w 0 0
    wm protocol $w WM_DELETE_WINDOW [namespace code Close]
    ttk::frame $f -padding {12 10}
    pack $f -fill both -expand 1

    # The frequency and the axis the wave runs along.
    ttk::label $f.frequencyLabel -text "Frequency:"
    NumberEntry $f.frequency frequency
    ttk::frame $f.units
    ttk::radiobutton $f.units.extent -text "cycles over the selection" \
	    -variable ${var}(units) -value 0
    ttk::radiobutton $f.units.unit -text "cycles per model unit" \
	    -variable ${var}(units) -value 1
    pack $f.units.extent $f.units.unit -side left -padx {0 8}

    ttk::label $f.freqaxisLabel -text "Runs along:"
    AxisButtons $f.freqaxis freqaxis {x X y Y z Z}

    # The two waves, one column each.
    ttk::label $f.wave1Label -text "Sine wave"
    ttk::label $f.wave2Label -text "Cosine wave"
    ttk::label $f.axisLabel -text "Moves along:"
    ttk::label $f.amplitudeLabel -text "Amplitude:"
    ttk::label $f.decayLabel -text "Decay (%):"
    ttk::label $f.offsetLabel -text "Phase offset (%):"
    foreach i {1 2} {
	AxisButtons $f.axis$i axis$i {x X y Y z Z n None}
	NumberEntry $f.amplitude$i amplitude$i
	NumberEntry $f.decay$i decay$i
	NumberEntry $f.offset$i offset$i
	ttk::checkbutton $f.random$i -text "Random" \
		-variable ${var}(random$i) -command [namespace code UpdateStates]
    }

    # Replace the positions on the amplitude axes, or add to them.
    ttk::label $f.modeLabel -text "Positions:"
    ttk::frame $f.mode
    ttk::radiobutton $f.mode.replace -text "Replace" \
	    -variable ${var}(mode) -value 0
    ttk::radiobutton $f.mode.add -text "Add to the current positions" \
	    -variable ${var}(mode) -value 1
    pack $f.mode.replace $f.mode.add -side left -padx {0 8}

    ttk::button $f.apply -text "Apply" -default active \
	    -command [namespace code Apply]
    ttk::button $f.close -text "Close" -command [namespace code Close]

    # Columns: labels, sine wave, cosine wave, buttons. Extra space above
    # the wave headings and the positions row sets those rows apart.
    set pad {-sticky w -padx {0 12} -pady 2}
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
    grid $f.apply -row 0 -column 3 -sticky new -pady 2
    grid $f.close -row 1 -column 3 -sticky new -pady 2
    grid columnconfigure $f {1 2} -uniform wave

    bind $w <Return> [list $f.apply invoke]
    bind $w <KP_Enter> [list $f.apply invoke]
    bind $w <Escape> [list $f.close invoke]

    UpdateStates
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
	lappend result [expr {$S(random$i) ? "random" : $S(offset$i)}]
    }
    lappend result $S(mode) $S(units)
}

# ::corrugo::Apply --
#
#	Deforms the selection with the dialog's values and leaves the dialog
#	open for another try. Every combination is sent as it stands:
#	qorvel_go checks the values and tells the user what is wrong.

proc ::corrugo::Apply {} {
    qorvel_go {*}[arguments]
    return
}

# ::corrugo::Close --
#
#	Closes the dialog. The values stay in S for the next opening.

proc ::corrugo::Close {} {
    variable S
    destroy $S(W)
}

# qorvel_dialog --
#
#	Run by the Tools menu entry "Corrugo...": opens the dialog.

proc ::qorvel_dialog {} {
    ::corrugo::show
}
