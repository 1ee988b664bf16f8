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
#	.corrugo.f.profile		the drawing of the wave's profile; items
#					are tagged "wave1" and "wave2" (the
#					curves), "legend", "scale", "zero",
#					"along" and "message"
#	.corrugo.f.caption		what the drawing shows, under it
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

    # The drawing: its first size, colours and how finely a curve is
    # sampled (24 points a cycle at the densest wave drawn).
    array set S {
	fields		{frequency units freqaxis axis1 axis2 amplitude1
			amplitude2 decay1 decay2 offset1 offset2 random1
			random2 mode}
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
#	on the right, the drawing of the wave below, growing with the dialog.

proc ::corrugo::Build {} {
    variable S
    set var [namespace which -variable S]
    set w $S(W)
    set f $w.f

    toplevel $w -class Corrugo
    wm title $w "Corrugo"
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

    canvas $f.profile -width $S(width) -height $S(height) \
	    -background $S(background) -highlightthickness 0
    ttk::label $f.caption -textvariable ${var}(caption) -justify left

    # Columns: labels, sine wave, cosine wave, buttons. Extra space above
    # the wave headings, the positions row and the drawing sets them apart.
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
    grid $f.profile - - - - -sticky nsew -pady {10 2}
    grid $f.caption - - - - -sticky w -pady {2 0}
    grid $f.apply -row 0 -column 3 -sticky new -pady 2
    grid $f.close -row 1 -column 3 -sticky new -pady 2
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
    Schedule
    update idletasks
    wm minsize $w [winfo reqwidth $w] [winfo reqheight $w]
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

# ::corrugo::FieldChanged --
#
#	Called on every write to S: a change of a field redraws the wave.
#
# Arguments:
#	name key op	as a variable trace gives them

proc ::corrugo::FieldChanged {name key op} {
    variable S
    if {$key in $S(fields)} {
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
	# wave's is not.
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

# qorvel_dialog --
#
#	Run by the Tools menu entry "Corrugo...": opens the dialog.

proc ::qorvel_dialog {} {
    ::corrugo::show
}
