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
#	presets or the settings file. Both forms are laid out from one
#	table of rows (::corrugo::Rows).
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
#	.corrugo.f.apply		Apply, the default button (also <Return>,
#					unless a button has the focus: then
#					<Return> invokes that one); disabled
#					while a number used is unfinished
#	.corrugo.f.close		Close (also <Escape> and the close box)
#	.corrugo.f.profile		* the drawing: the selected vertices,
#					items tagged "before1", "after1",
#					"before2", "after2" (each also "dot"),
#					"legend", "scale", "base" and "along";
#					or the wave's profile, items tagged
#					"wave1" and "wave2" (the curves),
#					"legend", "scale", "zero", "along" and
#					"message"
#	.corrugo.f.caption		* what the drawing shows, under it
#	.corrugo.f.note			the dialog's message line, at the bottom:
#					a keystroke refused, the help of what
#					is under the pointer, the number field
#					to fix, what is wrong with the settings
#					file, or the help of the focused field
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
#
# When the plug-in registers qorvel_preview beside qorvel_go, the drawing
# shows the selected vertices themselves, as they are and as Apply will
# put them (::corrugo::preview), a short pause after the fields change
# and whenever the dialog gets the focus back; the profile is drawn only
# when nothing is selected or the command is missing, and the caption
# says which.

# {==== Both forms, Tcl/Tk 8.4: the fields and their values ====
# Everything in the sections marked "Tcl/Tk 8.4" runs on the oldest Tk
# the dialog supports: no {*}, dict, lassign, apply, lmap, ttk, "in" or
# "ni", min() or max(), "binary format r", Tk's named fonts. A test scans
# these sections.

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
	    refused	""
	    help	""
	    fix		""
	    trouble	""
	    focusHelp	""
	    note	""
	}
    }

    # The fields, and among them the numbers in the order qorvel_go reads
    # them, each with the name the message line gives it; the values the
    # other fields may hold.
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
	choices		{units {0 1} freqaxis {x y z} axis1 {x y z n}
			axis2 {x y z n} random1 {0 1} random2 {0 1} mode {0 1}}
	steps		{frequency 1 amplitude 0.05 decay 5 offset 5}
	largest		3.4028235677973366e38
    }

    # The last value each field held that it may hold: what is saved and
    # sent for a field that holds none now (half typed, or unused).
    variable Good
    if {![info exists Good]} {
	foreach key $S(fields) {
	    set Good($key) $S($key)
	}
    }

    # What each label means, in the words of the list of fields in docs/dialog.md;
    # shown on the message line while the pointer rests on the label or
    # on its field, or while its field has the keyboard focus.
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

    set result [list $S(freqaxis) $S(axis1) $S(axis2)]
    foreach key {frequency amplitude1 amplitude2 decay1 decay2} {
	lappend result [Sent $key]
    }
    foreach i {1 2} {
	if {$S(random$i)} {
	    lappend result random
	} else {
	    lappend result [Sent offset$i]
	}
    }
    lappend result $S(mode) $S(units)
}

# ::corrugo::Sent --
#
#	Returns what is sent for a number field: its text, or, for a field
#	the chosen axes do not use, its last number while it holds none.

proc ::corrugo::Sent {key} {
    variable S
    if {[Unused $key]} {
	return [Good $key]
    }
    return $S($key)
}

# ::corrugo::Unused --
#
#	Tells whether the chosen axes leave a number field out: the fields
#	of a wave moving along no axis, and a random offset's number.

proc ::corrugo::Unused {key} {
    variable S
    if {![regexp {^(amplitude|decay|offset)([12])$} $key -> part i]} {
	return 0
    }
    expr {$S(axis$i) eq "n" || ($part eq "offset" && $S(random$i))}
}

# ::corrugo::Good --
#
#	Returns a field's value when it is one the field may hold, and
#	remembers it; else the last such value it held.

proc ::corrugo::Good {key} {
    variable S
    variable Good
    if {[Fault $key $S($key)] eq ""} {
	set Good($key) $S($key)
    }
    return $Good($key)
}

# ::corrugo::Checked --
#
#	Returns the fields' values as they are saved: field and value pairs,
#	in the fields' order, each one the field may hold.

proc ::corrugo::Checked {} {
    variable S
    set values {}
    foreach key $S(fields) {
	lappend values $key [Good $key]
    }
    return $values
}

# ::corrugo::Fault --
#
#	The one check of a field's value, for what is typed, saved and read
#	from the settings file: returns what is wrong with it, or nothing.
#
# Arguments:
#	key	the field
#	value	the value it would hold

proc ::corrugo::Fault {key value} {
    variable S
    array set choices $S(choices)
    if {![info exists choices($key)]} {
	if {![IsNumber $value]} {
	    return "$key \"$value\" is not a number"
	} elseif {[Huge $value]} {
	    return "$key \"$value\" is beyond single precision"
	}
    } elseif {[lsearch -exact $choices($key) $value] < 0} {
	return "$key \"$value\" is not one of [join $choices($key) {, }]"
    }
    return ""
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

# ::corrugo::Huge --
#
#	Tells whether a number is beyond single precision, which the command
#	stores it in: from halfway between the largest float and the next
#	power of two on, a number rounds to infinity there. (Tcl 8.4 cannot
#	even hold 1e999.)

proc ::corrugo::Huge {text} {
    variable S
    expr {[IsNumber $text] && ([catch {
	expr {abs([scan $text %g]) < $S(largest)}
    } small] || !$small)}
}

# ::corrugo::Unfinished --
#
#	Returns the first number field, in the command's order, that is
#	empty or still on the way to a number, or nothing when every one is
#	a number. A field the chosen axes do not use does not count. A text
#	that can lead to no number ("abc", set from outside) is the
#	command's to refuse.

proc ::corrugo::Unfinished {} {
    variable S
    foreach {key name} $S(numbers) {
	if {![Unused $key] && [IsNumberPrefix $S($key)] && ![IsNumber $S($key)]} {
	    return $key
	}
    }
    return ""
}

# ::corrugo::ApplyState --
#
#	Enables Apply only when every number used is whole, and names on
#	the message line the field to finish first.

proc ::corrugo::ApplyState {} {
    variable S
    set key [Unfinished]
    if {$key eq ""} {
	set S(fix) ""
    } else {
	array set names $S(numbers)
	set S(fix) "$names($key): enter a number"
    }
    if {[winfo exists $S(W).f.apply]} {
	Enable $S(W).f.apply [expr {$key eq ""}]
    }
    ShowNote
}

# ::corrugo::ShowNote --
#
#	Fills the message line with what matters most now: a keystroke just
#	refused, the help of what the pointer rests on, the number field to
#	finish, what went wrong with the settings file, and last the help of
#	the field that has the focus. The number field to finish, which
#	greys Apply, is never hidden: under a help or a refusal it takes a
#	second line.

proc ::corrugo::ShowNote {} {
    variable S
    set S(note) ""
    foreach key {refused help fix trouble focusHelp} {
	if {$S($key) ne ""} {
	    set S(note) $S($key)
	    break
	}
    }
    # Why Apply is greyed stays in sight, under a help or a refusal.
    if {$S(fix) ne "" && $S(note) ne $S(fix)} {
	append S(note) \n $S(fix)
    }
}

# ::corrugo::Explain --
#
#	Makes a label, or a field, show its help on the message line while
#	the pointer rests on it or, for a field, while it has the focus.
#
# Arguments:
#	w	the widget's path
#	topic	its entry in Help

proc ::corrugo::Explain {w topic} {
    bind $w <Enter> [namespace code [list Hover help $topic]]
    bind $w <Leave> [namespace code [list Hover help ""]]
    bind $w <FocusIn> [namespace code [list Hover focusHelp $topic]]
    bind $w <FocusOut> [namespace code [list Hover focusHelp ""]]
}

proc ::corrugo::Hover {slot topic} {
    variable S
    variable Help
    if {$slot eq "focusHelp"} {
	set S(refused) ""	;# said of the field the focus left
    }
    if {$topic eq ""} {
	set S($slot) ""
    } else {
	set S($slot) $Help($topic)
    }
    ShowNote
}

# ::corrugo::Enable --
#
#	Enables or disables a widget, themed or classic.

proc ::corrugo::Enable {w on} {
    if {[string match T* [winfo class $w]]} {
	$w state [expr {$on ? "!disabled" : "disabled"}]
    } else {
	$w configure -state [expr {$on ? "normal" : "disabled"}]
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
    if {![winfo exists $f.offset2]} {
	return
    }
    foreach i {1 2} {
	foreach letter {x y z} {
	    Enable $f.axis$i.$letter [expr {$letter ne $S(freqaxis)}]
	}
	foreach part {amplitude decay random offset} {
	    Enable $f.$part$i [expr {![Unused $part$i] && $S(axis$i) ne "n"}]
	}
    }
}

# ::corrugo::Changed --
#
#	Called on every write to S while the dialog, of either form, is
#	open: a change of a field is remembered when it is a value the
#	field may hold, unless the user is typing it (an entry's number is
#	remembered when the entry is left or applied: closing in mid-edit
#	keeps that, not a step of the typing), guides the choices, enables or disables Apply and,
#	in the full dialog, redraws the wave and tells whether the preset
#	still holds.
#
# Arguments:
#	name key op	as a variable trace gives them

proc ::corrugo::Changed {name key op} {
    variable S
    if {[lsearch -exact $S(fields) $key] < 0} {
	return
    }
    if {[focus] ne "$S(W).f.$key"} {
	Good $key	;# typing is done when the entry is left
    }
    UpdateStates
    ApplyState
    if {[winfo exists $S(W).f.profile]} {
	PresetState
	Schedule
    }
}

# }==== Both forms, Tcl/Tk 8.4: the fields and their values ====
# {==== Both forms, Tcl/Tk 8.4: typing a number ====
# What a key, a paste, Up or Down does in a number entry: only what leaves
# a number, or the start of one, in the field.

# ::corrugo::Typed --
#
#	Checks a keystroke or a paste in a number entry: one that cannot
#	lead to a number is refused whole, with the bell and a note on the
#	message line saying why.
#
# Arguments:
#	key	the entry's field
#	text	what the entry would hold

proc ::corrugo::Typed {key text} {
    if {[IsNumberPrefix $text] && ![Huge $text]} {
	return 1
    }
    Refuse $key $text
    return 0
}

proc ::corrugo::Refuse {key text} {
    variable S
    array set names $S(numbers)
    bell
    if {[Huge $text]} {
	set S(refused) "$names($key): $text is beyond single precision, which the command keeps numbers in (at most 3.4e38 either way)."
    } else {
	set S(refused) "$names($key): \"$text\" is not a number (write one such as 1.5, -2 or 2.5e-3)."
    }
    ShowNote
}

# ::corrugo::Key --
#
#	Types a character into a number entry, in place of the selection
#	the entry's own binding would replace, only when that leaves a
#	number or the start of one: a refused key changes nothing, selection
#	included. A decimal comma is typed as a point. Keys that type no
#	character (moves, deletions, shortcuts) are left to the entry.
#
# Arguments:
#	w	the entry
#	key	its field
#	char	the character typed (%A)
#	state	the modifiers held (%s)

proc ::corrugo::Key {w key char state} {
    if {[string length $char] != 1 || ![string is print $char]
	    || ($state & 12) != 0 || [Disabled $w]} {
	return
    }
    if {$char eq ","} {
	set char .
    }
    set from [$w index insert]
    set to $from
    if {[$w selection present]} {
	set first [$w index sel.first]
	set last [$w index sel.last]
	# A themed entry types over its selection wherever the cursor is,
	# a classic one only when the cursor is at the selection.
	if {[winfo class $w] eq "TEntry" || ($first <= $from && $from <= $last)} {
	    set from $first
	    set to $last
	}
    }
    Put $w $key $from $to $char
    return -code break
}

# ::corrugo::Put --
#
#	Puts a text typed or pasted in place of a part of a number entry's
#	text when that leaves a number or the start of one; otherwise the
#	entry keeps its text, selection and all.
#
# Arguments:
#	w	the entry
#	key	its field
#	from	the first character replaced
#	to	the one after the last replaced
#	put	the text

proc ::corrugo::Put {w key from to put} {
    set text [$w get]
    set text [string range $text 0 [expr {$from - 1}]]$put[string range $text $to end]
    if {![IsNumberPrefix $text] || [Huge $text]} {
	Refuse $key $text
	return
    }
    $w delete 0 end
    $w insert 0 $text
    $w icursor [expr {$from + [string length $put]}]
    $w xview insert
}

# ::corrugo::Step --
#
#	Up and Down in a number entry: adds or takes a step suited to its
#	field (a cycle, 0.05 of a model unit, 5 %), in the digits the field
#	and the step need; a number written with an exponent keeps the seven
#	digits a float holds.
#
# Arguments:
#	w	the entry
#	key	its field
#	sign	1 for up, -1 for down

proc ::corrugo::Step {w key sign} {
    variable S
    regexp {^[a-z]+} $key part
    array set steps $S(steps)
    set step $steps($part)
    set text [$w get]
    if {[Disabled $w] || ![IsNumber $text] || [Huge $text]} {
	return -code break
    }
    set value [expr {[scan $text %g] + $sign * $step}]
    if {[regexp {[eE]} $text]} {
	set value [format %.7g $value]	;# the digits a float holds
    } else {
	set digits [Decimals $step]
	if {[Decimals $text] > $digits} {
	    set digits [Decimals $text]
	}
	set value [format %.${digits}f $value]
	if {$digits > 0} {
	    set value [string trimright [string trimright $value 0] .]
	}
    }
    if {[regexp {^-?0*\.?0*$} $value]} {
	set value 0
    }
    Put $w $key 0 [string length $text] $value
    return -code break
}

proc ::corrugo::Decimals {text} {
    if {[regexp {\.([0-9]*)$} $text -> decimals]} {
	return [string length $decimals]
    }
    return 0
}

proc ::corrugo::Disabled {w} {
    if {[string match T* [winfo class $w]]} {
	return [$w instate disabled]
    }
    expr {[$w cget -state] eq "disabled"}
}

# ::corrugo::Paste --
#
#	Pastes into a number entry, in place of its selection, only when
#	that leaves a number or the start of one there (a decimal comma
#	pasted as a point); otherwise the entry keeps its text, selection
#	and all. Either way the entry's own paste does not run.
#
# Arguments:
#	w	the entry
#	key	its field

proc ::corrugo::Paste {w key} {
    if {[catch {::tk::GetSelection $w CLIPBOARD} pasted]} {
	return -code break
    }
    if {[$w selection present]} {
	set from [$w index sel.first]
	set to [$w index sel.last]
    } else {
	set from [$w index insert]
	set to $from
    }
    Put $w $key $from $to [string map {, .} $pasted]
    return -code break
}

# }==== Both forms, Tcl/Tk 8.4: typing a number ====
# {==== Both forms, Tcl/Tk 8.4: the window and its keys ====
# Both forms are laid out from one table of rows, with the widgets of the
# form's own kit: themed (ttk::) in the full dialog, classic in the plain
# form.

namespace eval ::corrugo {
    # The dialog's rows, top to bottom: which form has the row (both, or
    # full for the full dialog only), its label (its name in the widget
    # paths and its text; "" for none), the topic of the help for the
    # label and the row's fields, the space above and below it, and its
    # cells in the wave columns: a field, "-" (the cell on the left
    # reaches into it) or "x" (empty). A field is one of
    #	entry KEY			an entry for a number
    #	choice KEY {NAME VALUE TEXT ...}	radiobuttons, each KEY.NAME
    #	check KEY TEXT			a checkbutton
    #	heading NAME TEXT		a label
    #	presets presets			the preset chosen, with its buttons
    variable Rows {
	full presetLabel "Preset:" preset {0 10} {{presets presets} -}
	both frequencyLabel "Frequency:" frequency 2 {{entry frequency} x}
	both "" "" frequency 2 {{choice units {extent 0 "cycles over the selection"
	    unit 1 "cycles per model unit"}} -}
	both freqaxisLabel "Runs along:" freqaxis 2 {{choice freqaxis {x x X y y Y z z Z}} -}
	both "" "" wave {10 2} {{heading wave1Label "Sine wave"}
	    {heading wave2Label "Cosine wave"}}
	both axisLabel "Moves along:" axis 2 {{choice axis1 {x x X y y Y z z Z n n None}}
	    {choice axis2 {x x X y y Y z z Z n n None}}}
	both amplitudeLabel "Amplitude:" amplitude 2 {{entry amplitude1} {entry amplitude2}}
	both decayLabel "Decay (%):" decay 2 {{entry decay1} {entry decay2}}
	both offsetLabel "Phase offset (%):" offset 2 {{entry offset1} {entry offset2}}
	both "" "" offset 2 {{check random1 Random} {check random2 Random}}
	both modeLabel "Positions:" mode {10 2} {{choice mode {replace 0 Replace
	    add 1 "Add to the current positions"}} -}
    }
}

# ::corrugo::PlainShow --
#
#	Opens the plain form, or brings it to the front when it is open.

proc ::corrugo::PlainShow {} {
    variable S
    if {![winfo exists $S(W)]} {
	set S(kit) ""
	set S(form) plain
	Build
    }
    Front
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

# ::corrugo::Build --
#
#	Creates the dialog, in the form S(form) names with the widgets of
#	S(kit), bound to the slots of S: one row per setting, the two waves
#	side by side, Apply and Close on the right and the message line
#	last; the full dialog adds the presets on top and the drawing below
#	the rows.

proc ::corrugo::Build {} {
    variable S
    variable Rows
    set var [namespace which -variable S]
    set w $S(W)
    set f $w.f

    toplevel $w -class Corrugo
    wm title $w "Corrugo"
    wm protocol $w WM_DELETE_WINDOW [namespace code Close]
    if {$S(form) eq "full"} {
	Widget frame $f -padding {12 10}
    } else {
	Widget frame $f -padx 12 -pady 10
    }
    pack $f -fill both -expand 1

    set row 0
    foreach {form label text topic pady cells} $Rows {
	if {$form ne "both" && $form ne $S(form)} {
	    continue
	}
	if {$label eq ""} {
	    set line x
	} else {
	    Widget label $f.$label -text $text -takefocus 0
	    Explain $f.$label $topic
	    set line $f.$label
	}
	foreach cell $cells {
	    if {$cell eq "-" || $cell eq "x"} {
		lappend line $cell
	    } else {
		lappend line [Field $f $cell $topic]
	    }
	}
	if {$label eq "frequencyLabel"} {
	    set buttons $row
	}
	eval grid $line [list -row $row -sticky w -padx {0 12} -pady $pady]
	incr row
    }

    Widget button $f.apply -text "Apply" -default active -command [namespace code Apply]
    Widget button $f.close -text "Close" -command [namespace code Close]
    grid $f.apply -row $buttons -column 3 -sticky new -pady 2
    grid $f.close -row [expr {$buttons + 1}] -column 3 -sticky new -pady 2
    if {$S(form) eq "full"} {
	set row [Drawing $f $row]
    }
    Widget label $f.note -textvariable ${var}(note) -justify left -takefocus 0
    if {$S(form) eq "plain"} {
	# About 60 digits of its font wide: it grows with the font.
	$f.note configure -wraplength [font measure [$f.note cget -font] [Digits]]
    }
    grid $f.note -row $row -column 0 -columnspan 5 -sticky w -pady {6 0}
    grid columnconfigure $f {1 2} -uniform wave
    grid columnconfigure $f 4 -weight 1	;# an empty column takes the growth

    # Return invokes the button that has the focus, else Apply.
    bind $w <Return> [namespace code [list Return %W $f.apply]]
    bind $w <KP_Enter> [namespace code [list Return %W $f.apply]]
    bind $w <Escape> [list $f.close invoke]

    trace remove variable $var write [namespace code Changed]
    trace add variable $var write [namespace code Changed]
    UpdateStates
    ApplyState
    if {$S(form) eq "full"} {
	Drawn
    }
    update idletasks
    wm minsize $w [winfo reqwidth $w] [winfo reqheight $w]
}

# ::corrugo::Widget --
#
#	Creates a widget of a kind (label, entry, frame, button,
#	radiobutton, checkbutton) from the form's kit.

proc ::corrugo::Widget {kind path args} {
    variable S
    if {$S(kit) ne "" && ($kind eq "radiobutton" || $kind eq "checkbutton")} {
	lappend args -style Corrugo.T[string totitle $kind]	;# see Scaled
    }
    eval [list $S(kit)$kind $path] $args
}

# ::corrugo::Field --
#
#	Creates one field of a row of the table, with the help of its row,
#	and returns its path.
#
# Arguments:
#	f	the dialog's frame
#	cell	the field, as the table gives it
#	topic	the row's entry in Help

proc ::corrugo::Field {f cell topic} {
    variable S
    set var [namespace which -variable S]
    set kind [lindex $cell 0]
    set key [lindex $cell 1]
    set path $f.$key
    switch -- $kind {
	entry {
	    Widget entry $path -width 10 -textvariable ${var}($key) -validate key \
		    -validatecommand [namespace code [list Typed $key %P]]
	    bind $path <<Paste>> [namespace code [list Paste %W $key]]
	    bind $path <KeyPress> [namespace code [list Key %W $key %A %s]]
	    bind $path <Up> [namespace code [list Step %W $key 1]]
	    bind $path <Down> [namespace code [list Step %W $key -1]]
	    Explain $path $topic
	    bind $path <FocusOut> +[namespace code [list Good $key]]
	}
	choice {
	    Widget frame $path
	    foreach {name value text} [lindex $cell 2] {
		Widget radiobutton $path.$name -text $text -value $value \
			-variable ${var}($key)
		pack $path.$name -side left -padx {0 8}
		Explain $path.$name $topic
	    }
	}
	check {
	    Widget checkbutton $path -text [lindex $cell 2] -variable ${var}($key)
	    Explain $path $topic
	}
	heading {
	    Widget label $path -text [lindex $cell 2] -takefocus 0
	    Explain $path $topic
	}
	presets {
	    Presets $path
	}
    }
    return $path
}

proc ::corrugo::Digits {} {
    string repeat 0 60
}

# ::corrugo::Return --
#
#	Runs the key Return, as Tk's own dialogs do: a push button that has
#	the focus is invoked; anywhere else the default button is.
#
# Arguments:
#	focus	the widget that has the focus
#	default	the default button

proc ::corrugo::Return {focus default} {
    switch -- [winfo class $focus] {
	Button - TButton {
	    $focus invoke
	}
	default {
	    $default invoke
	}
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
    eval [linsert [arguments] 0 qorvel_go]
    SaveSettings
    Schedule	;# the preview shows the vertices where they now are
    return
}

# ::corrugo::Close --
#
#	Closes the dialog, of either form. The values stay in S for the
#	next opening, and in the settings file for the next session; a
#	number left half typed gives way to the last one the user finished.
#	What could not be saved is shown before the window goes.

proc ::corrugo::Close {} {
    variable S
    trace remove variable [namespace which -variable S] write \
	    [namespace code Changed]
    foreach key $S(fields) {
	set S($key) [Good $key]	;# a field left half typed
    }
    set lost [SaveSettings]
    if {$lost ne ""} {
	# The message line goes with the window.
	tk_messageBox -parent $S(W) -title "Corrugo" -icon warning -type ok \
		-message $lost
    }
    destroy $S(W)
}

# }==== Both forms, Tcl/Tk 8.4: the window and its keys ====
# {==== The full dialog: its own parts ====
# The full dialog, for Tk 8.5 and newer: themed widgets, the drawing of
# the wave, the presets and the settings file.

namespace eval ::corrugo {
    # The drawing: its first size, colours and how finely a curve is
    # sampled (24 points a cycle at the densest wave drawn).
    array set S {
	scheduled	0
	later		""
	pause		300
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
	problems	""
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

    # The user's presets, name to values, as this session holds them, and
    # as the settings file held them when last read or written: the
    # difference is what this session changed.
    variable User
    variable Base
    if {![info exists User]} {
	set User {}
	set Base {}
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
	set S(kit) ttk::
	set S(form) full
	Scaled
	Build
    }
    Front
}

# ::corrugo::Scaled --
#
#	Sizes what Tk does not size by the font: the radio and check
#	indicators, in the dialog's own styles, grow with the font and the
#	scaling (tk scaling); the drawing and the message line are sized by
#	the font where they are made.

proc ::corrugo::Scaled {} {
    variable S
    set size [expr {max(10, [font metrics $S(font) -linespace] * 3 / 5)}]
    foreach style {Corrugo.TRadiobutton Corrugo.TCheckbutton} {
	ttk::style configure $style -indicatordiameter $size -indicatorsize $size
    }
}

# ::corrugo::Presets --
#
#	Creates the row of the preset chosen (a read-only list) and what
#	can be done with it.
#
# Arguments:
#	p	the row's frame

proc ::corrugo::Presets {p} {
    variable S
    ttk::frame $p
    ttk::combobox $p.choice -state readonly -width 28 \
	    -textvariable [namespace which -variable S](presetShown)
    bind $p.choice <<ComboboxSelected>> [namespace code {Choose [%W get]}]
    Explain $p.choice preset
    ttk::button $p.save -text "Save as..." -command [namespace code SaveAs]
    ttk::button $p.delete -text "Delete" -command [namespace code Delete]
    pack $p.choice -side left -padx {0 8}
    pack $p.save $p.delete -side left -padx {0 4}
}

# ::corrugo::Drawing --
#
#	Creates the drawing of the wave, growing with the dialog and with
#	the font, and the caption under it, from a row of the dialog's grid on. Returns the
#	row after them.
#
# Arguments:
#	f	the dialog's frame
#	row	the first row

proc ::corrugo::Drawing {f row} {
    variable S
    # Room for five lines of the labels' font, however large it is.
    set line [font metrics $S(font) -linespace]
    set height [expr {max($S(height), 6 * $line + 12)}]
    canvas $f.profile -width $S(width) -height $height -takefocus 0 \
	    -background $S(background) -highlightthickness 0
    ttk::label $f.caption -takefocus 0 \
	    -textvariable [namespace which -variable S](caption) \
	    -justify left
    grid $f.profile -row $row -column 0 -columnspan 5 -sticky nsew -pady {10 2}
    grid $f.caption -row [incr row] -column 0 -columnspan 5 -sticky w -pady {2 0}
    grid rowconfigure $f $f.profile -weight 1
    return [incr row]
}

# ::corrugo::Drawn --
#
#	Ends the full dialog's building: Details..., under the message line,
#	lists what the settings file held that was left out; the drawing
#	follows every change of a field and of its own size, and asks the
#	host again for the selection when the dialog is come back to.

proc ::corrugo::Drawn {} {
    variable S
    set f $S(W).f
    $f.note configure -wraplength [font measure $S(font) [Digits]]
    ttk::button $f.details -text "Details..." -command [namespace code ShowDetails]
    grid $f.details -row [expr {[dict get [grid info $f.note] -row] + 1}] \
	    -column 0 -sticky w -pady {4 0}
    Details
    bind $S(W).f.profile <Configure> [namespace code Schedule]
    bind $S(W) <FocusIn> [namespace code Schedule]
    PresetState
    Schedule
}

# ::corrugo::Details --
#
#	Shows Details... while something was left out of the settings file.

proc ::corrugo::Details {} {
    variable S
    if {$S(problems) eq ""} {
	grid remove $S(W).f.details
    } else {
	grid $S(W).f.details
    }
}

# ::corrugo::ShowDetails --
#
#	Lists everything left out of the settings file, one a line, in a
#	window of its own.

proc ::corrugo::ShowDetails {} {
    variable S
    set w $S(W).details
    destroy $w
    toplevel $w -class Corrugo
    wm title $w "Settings left out"
    wm transient $w $S(W)
    ttk::frame $w.f -padding {12 10}
    text $w.text -width 72 -height 12 -wrap word -yscrollcommand [list $w.bar set]
    ttk::scrollbar $w.bar -command [list $w.text yview]
    ttk::button $w.close -text "Close" -default active -command [list destroy $w]
    $w.text insert end "In $S(file):\n[join $S(problems) \n]"
    $w.text configure -state disabled
    pack $w.f -fill both -expand 1
    grid $w.text $w.bar -in $w.f -sticky nsew
    grid $w.close - -in $w.f -sticky e -pady {8 0}
    grid columnconfigure $w.f 0 -weight 1
    grid rowconfigure $w.f 0 -weight 1
    bind $w <Escape> [list destroy $w]
    bind $w <Return> [list destroy $w]
    focus $w.close
}

# }==== The full dialog: its own parts ====

# {==== The drawing ====
# The wave the fields describe, drawn with the command's own arithmetic.

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
#	Draws what the fields describe: the selected vertices before and
#	after (::corrugo::Previewed, after a pause in typing) when the
#	host's plug-in has qorvel_preview; otherwise the wave's curves, or
#	the command's message when it would refuse them. While a field is
#	not yet a number, and until the preview comes, the last drawing
#	stays, greyed.

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
    after cancel $S(later)
    if {$status eq "pending"} {
	$c itemconfigure all -fill $S(greyed)
	return
    }
    if {$status eq "fault"} {
	$c delete all
	set S(caption) ""
	Message $c [dict get $settings message]
	return
    }
    if {[info commands ::qorvel_preview] eq ""} {
	Profile $c $settings [Extent [dict get $settings freqaxis]] absent
	return
    }
    $c itemconfigure all -fill $S(greyed)
    set S(later) [after $S(pause) [namespace code Previewed]]
}

# ::corrugo::Profile --
#
#	Draws the wave's curves over the selection's length, and the caption
#	saying how they are placed and, with "why", why the selection itself
#	is not drawn.
#
# Arguments:
#	c		the canvas
#	settings	as ::corrugo::Settings returns them
#	extent		the length and where it comes from, as
#			::corrugo::Extent returns them
#	why		absent (the plug-in has no preview), none (nothing is
#			selected) or nothing

proc ::corrugo::Profile {c settings extent {why ""}} {
    variable S
    $c delete all
    lassign $extent length known
    set walk [Walk $settings $length]
    set S(caption) [Caption $walk $known]
    if {$why eq "absent"} {
	append S(caption) "\nThe plug-in here cannot show the selected vertices:\
		the drawing is the wave alone."
    }
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
	set text [Sent $key]
	lassign [ReadNumber $text] status value
	if {$status eq "pending"} {
	    return {status pending}
	} elseif {$status eq "fault"} {
	    return [list status fault \
		    message "Corrugo : unable to parse $text for $name"]
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
    # The scale's labels clear the legend above and the axis's below.
    set top [expr {$line * 3 / 2 + 6}]
    set bottom [expr {$height - $line * 3 / 2 - 6}]
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
    set y [expr {$bottom + $line / 2 + 3}]
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

# }==== The drawing ====

# {==== The preview ====
# The selected vertices themselves, before and after, as the plug-in's
# qorvel_preview gives them: the command's own reading of the words, its
# own gathering and its own wave, with nothing changed.

# ::corrugo::preview --
#
#	Asks the plug-in where Apply would put the selected vertices, without
#	moving any. Returns qorvel_preview's answer: "status ok", "count"
#	(the vertices gathered), "extent" (their lowest and highest
#	coordinate along the frequency axis) and "points" (for at most 2000
#	of them, in the gathered order: the coordinate along the frequency
#	axis, then on each amplitude axis before and after; 0 and 0 for an
#	axis n). A fault, an empty selection included, is a Tcl error with
#	the command's own message.
#
# Arguments:
#	args	the twelve words of qorvel_go; the dialog's when none

proc ::corrugo::preview {args} {
    if {[llength $args] == 0} {
	set args [arguments]
    }
    if {[info exists ::qorvel_preview_answer]} {
	unset ::qorvel_preview_answer
    }
    eval [linsert $args 0 ::qorvel_preview]
    # The host gives a command no result of its own: the plug-in leaves
    # its answer in this variable.
    if {![info exists ::qorvel_preview_answer]} {
	error "qorvel_preview gave no answer"
    }
    set answer $::qorvel_preview_answer
    if {[dict get $answer status] ne "ok"} {
	return -code error [dict get $answer message]
    }
    return $answer
}

# ::corrugo::Previewed --
#
#	Draws the preview of the fields as they now are, once typing has
#	paused: the selected vertices; with nothing selected, the wave's
#	curves, saying so; the command's message when it refuses the words.

proc ::corrugo::Previewed {} {
    variable S
    set c $S(W).f.profile
    if {![winfo exists $c]} {
	return
    }
    set settings [Settings]
    if {[dict get $settings status] ne "ok"} {
	return	;# ::corrugo::Draw has drawn it
    }
    if {![catch {preview} answer]} {
	Selection $c $settings $answer
    } elseif {$answer eq "Corrugo : no vertices selected"} {
	Profile $c $settings {1.0 none}
    } elseif {[info exists ::qorvel_preview_answer]} {
	$c delete all
	set S(caption) ""
	Message $c $answer
    } else {
	Profile $c $settings [Extent [dict get $settings freqaxis]] absent
    }
}

# ::corrugo::Selection --
#
#	Draws the sampled vertices over the selection's extent: each
#	amplitude axis used, as they are in grey and as Apply will put them
#	in that wave's colour; and the caption.
#
# Arguments:
#	c		the canvas
#	settings	as ::corrugo::Settings returns them
#	answer		as ::corrugo::preview returns it

proc ::corrugo::Selection {c settings answer} {
    variable S
    $c delete all
    set points [dict get $answer points]
    set used {}
    foreach i {1 2} {
	if {[dict get $settings axis$i] ne "n"} {
	    lappend used $i
	}
    }
    # How far the coordinates drawn reach, before and after.
    set range {}
    foreach {along before1 after1 before2 after2} $points {
	foreach i $used {
	    foreach value [list [set before$i] [set after$i]] {
		if {[Finite $value]} {
		    lappend range $value
		}
	    }
	}
    }
    set range [lsort -real $range]
    set frame [Axes $c [dict get $settings freqaxis] [dict get $answer extent] \
	    [list [lindex $range 0] [lindex $range end]]]
    foreach when {before after} {
	foreach i $used {
	    set fill [expr {$when eq "before" ? $S(greyed) : $S(color$i)}]
	    foreach {along before1 after1 before2 after2} $points {
		Dot $c $frame $along [set $when$i] $fill $when$i
	    }
	}
    }
    SelectionLegend $c $settings
    set count [dict get $answer count]
    set shown [expr {[llength $points] / 5}]
    set axis [string toupper [dict get $settings freqaxis]]
    set S(caption) "The $count selected vertices along $axis"
    if {$shown < $count} {
	append S(caption) " ($shown of them drawn)"
    }
    append S(caption) ": grey as they are, in colour where Apply puts them."
    if {[dict get $settings random1] || [dict get $settings random2]} {
	append S(caption) "\nThe random offsets shown are one draw: each Apply\
		draws them anew."
    }
}

# ::corrugo::Finite --
#
#	Whether a coordinate is a finite number (a model may hold others).

proc ::corrugo::Finite {x} {
    expr {[string is double -strict $x]
	    && ![catch {expr {abs($x) < Inf}} finite] && $finite}
}

# ::corrugo::Axes --
#
#	Draws the axes of the preview: the frequency axis along the bottom
#	over the selection's extent, the amplitude axes' coordinates up.
#	Returns where they are, for ::corrugo::Dot.
#
# Arguments:
#	c	the canvas
#	axis	the frequency axis, x, y or z
#	extent	the lowest and highest coordinate along it
#	range	the lowest and highest coordinate drawn up (empty when none)

proc ::corrugo::Axes {c axis extent range} {
    variable S
    lassign [Size $c] width height
    set line [font metrics $S(font) -linespace]
    lassign [Span $extent] low high
    lassign [Span $range] lowest highest
    set labels [list [Number $lowest] [Number $highest]]
    set left [expr {max([font measure $S(font) [lindex $labels 0]],
		[font measure $S(font) [lindex $labels 1]]) + 12}]
    set right [expr {$width - 12}]
    set top [expr {$line * 3 / 2 + 6}]
    set bottom [expr {$height - $line * 3 / 2 - 6}]
    set text [list -font $S(font) -fill $S(ink)]

    $c create line $left $top $left $bottom -fill $S(rule) -tags scale
    $c create line $left $bottom $right $bottom -fill $S(rule) -tags base
    foreach y [list $bottom $top] mark $labels {
	$c create text [expr {$left - 4}] $y -anchor e -text $mark {*}$text -tags scale
    }
    set y [expr {$bottom + $line / 2 + 3}]
    $c create text [expr {($left + $right) / 2.0}] $y -anchor n \
	    -text "[string toupper $axis] of the selected vertices" {*}$text -tags along
    $c create text $left $y -anchor n -text [Number $low] {*}$text -tags along
    $c create text $right $y -anchor ne -text [Number $high] {*}$text -tags along

    dict create left $left right $right top $top bottom $bottom \
	    low $low high $high lowest $lowest highest $highest
}

# ::corrugo::Span --
#
#	Returns a range to draw over: the one given, widened by half a unit
#	each way when it is a single value or not finite (0 to 1 when empty).

proc ::corrugo::Span {range} {
    lassign $range low high
    if {![Finite $low] || ![Finite $high]} {
	return {0.0 1.0}
    }
    if {$high > $low} {
	return [list $low $high]
    }
    list [expr {$low - 0.5}] [expr {$low + 0.5}]
}

# ::corrugo::Dot --
#
#	Draws one vertex, unless a coordinate of it is not a finite number.
#
# Arguments:
#	c		the canvas
#	frame		as ::corrugo::Axes returns it
#	along, value	its coordinates along the frequency axis and up
#	fill		its colour
#	tag		before1, after1, before2 or after2

proc ::corrugo::Dot {c frame along value fill tag} {
    if {![Finite $along] || ![Finite $value]} {
	return
    }
    dict with frame {}
    # The answer writes whole numbers without a point: divide as reals.
    set x [expr {$left + double($along - $low) / ($high - $low) * ($right - $left)}]
    set y [expr {$bottom - double($value - $lowest) / ($highest - $lowest) * ($bottom - $top)}]
    $c create rectangle [expr {$x - 1.5}] [expr {$y - 1.5}] \
	    [expr {$x + 1.5}] [expr {$y + 1.5}] -outline "" -fill $fill \
	    -tags [list $tag dot]
}

# ::corrugo::SelectionLegend --
#
#	Names, across the top of the drawing, the axis each wave moves the
#	vertices along, in its colour, and the grey of the vertices as they
#	are.
#
# Arguments:
#	c		the canvas
#	settings	as ::corrugo::Settings returns them

proc ::corrugo::SelectionLegend {c settings} {
    variable S
    set x 10
    set y [expr {[font metrics $S(font) -linespace] / 2 + 4}]
    set entries {}
    foreach i {1 2} name {Sine Cosine} {
	set axis [dict get $settings axis$i]
	if {$axis ne "n"} {
	    lappend entries $S(color$i) "$name \u2192 [string toupper $axis]" legend$i
	}
    }
    lappend entries $S(greyed) "as they are" legend0
    foreach {fill text tag} $entries {
	$c create rectangle $x [expr {$y - 3}] [expr {$x + 6}] [expr {$y + 3}] \
		-outline "" -fill $fill -tags [list legend $tag]
	set id [$c create text [expr {$x + 12}] $y -anchor w -text $text \
		-font $S(font) -fill $S(ink) -tags [list legend $tag]]
	set x [expr {[lindex [$c bbox $id] 2] + 18}]
    }
}

# }==== The preview ====

# {==== Reading the settings file ====
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
# It is read as data and checked value by value, never run: a file that
# someone else wrote can set values but do nothing else. A value the
# dialog cannot use costs that value (the field keeps its first one), a
# preset with one costs that preset, and the message line names each. A
# file that cannot be read at all (not a regular file, too large, not a
# Tcl list, not a Corrugo settings file) is left alone for the whole
# session, so that what the user kept in it is not overwritten. An empty
# file counts as none.

namespace eval ::corrugo {
    # The largest settings file read, in bytes: far more than a person's
    # presets take, and little enough to read at once.
    set S(fileLimit) 1048576
    # The most presets kept, and the longest name one may have, in
    # characters: a box and a window that fit on a screen, and a file
    # far below the limit above unless numbers are written very long.
    set S(presetLimit) 1000
    set S(nameLimit) 64
}

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
#	or empty file leaves the first values; a file that cannot be read
#	leaves them too, marks the file as not to be written and says why
#	on the message line, as it does for the values and presets left out.

proc ::corrugo::LoadSettings {} {
    variable S
    variable User
    variable Base
    set S(file) [SettingsFile]
    set S(writable) 0
    set S(trouble) ""
    if {$S(file) eq ""} {
	set S(trouble) "Settings are not kept: no home folder is set."
    } elseif {[catch {ReadSettings $S(file)} settings]} {
	set S(trouble) "Settings not read from $S(file): $settings.\
		The dialog starts from its first values and leaves the file as it is."
    } else {
	array set S [dict get $settings last]
	Checked
	set User [dict get $settings presets]
	set Base $User
	if {[file exists $S(file)] && [ReadOnly $S(file)]} {
	    set S(trouble) [string trim "$S(file) is read-only: settings changed\
		    here are not kept. [LeftOut $settings 0]"]
	} else {
	    set S(writable) 1
	    set S(trouble) [LeftOut $settings 1]
	}
    }
    ShowNote
}

# ::corrugo::LeftOut --
#
#	Returns the note for what was left out of the settings file, naming
#	the first few (Details... shows them all), and keeps the presets
#	left out aside, in a file beside the settings file, when it may be
#	written: nothing is ever dropped. Returns nothing when nothing was
#	left out.
#
# Arguments:
#	settings	as ::corrugo::ReadSettings returns them
#	keep		whether to keep the presets left out aside

proc ::corrugo::LeftOut {settings keep} {
    variable S
    set problems [dict get $settings problems]
    set S(problems) $problems
    if {$problems eq ""} {
	return ""
    }
    set named [join [lrange $problems 0 2] "; "]
    if {[llength $problems] > 3} {
	append named "; and [expr {[llength $problems] - 3}] more (see Details...)"
    }
    set note "Some settings in $S(file) were left out: $named."
    set aside [dict get $settings aside]
    if {$aside ne "" && $keep} {
	if {[catch {KeepAside $aside} message]} {
	    append note " The presets left out could not be kept in\
		    [AsideFile]: $message; the settings are not saved until they are."
	    set S(writable) 0
	} else {
	    append note " The presets left out are kept in [AsideFile]."
	}
    }
    return $note
}

# ::corrugo::AsideFile, ::corrugo::KeepAside --
#
#	Where the presets left out of the settings file are kept, and
#	adds presets to it, as lines of the settings file, each once.

proc ::corrugo::AsideFile {} {
    variable S
    file join [file dirname $S(file)] presets-left-out.tcl
}

proc ::corrugo::KeepAside {lines} {
    set path [AsideFile]
    set text [ReadText $path]
    if {$text eq ""} {
	set text "# Presets the dialog left out of settings.tcl, as it held them:\n"
	append text "# mend one and move it back into that file's presets.\n"
    }
    foreach line $lines {
	if {[string first $line\n $text] < 0} {
	    append text $line\n
	}
    }
    WriteSettings $path $text
}

# ::corrugo::ReadSettings --
#
#	Reads and checks a settings file. Returns a dictionary with "last"
#	(the values last used that the dialog can use), "presets" (name to
#	values, those it can use), "problems" (what was left out, each
#	naming the value or preset) and "aside" (the presets left out, as
#	the file holds them); a missing or empty file has none of
#	them. Raises an error saying what is wrong, and where, with a file
#	that cannot be read at all.
#
# Arguments:
#	path	the file

proc ::corrugo::ReadSettings {path} {
    set settings [dict create last {} presets {} problems {} aside {}]
    set text [ReadText $path]
    # Comment lines become empty ones, so that line numbers still hold.
    set lines {}
    foreach line [split $text \n] {	;# (no lmap: Tcl 8.5 has none)
	lappend lines [expr {[string match #* [string trimleft $line]] ? "" : $line}]
    }
    set text [join $lines \n]
    if {[string trim $text] eq ""} {
	return $settings
    }
    if {![string is list -failindex at $text]} {
	set line [regexp -all \n [string range $text 0 $at-1]]
	return -code error "line [incr line]: not a Tcl list (an unmatched brace or quote)"
    }
    if {[llength $text] % 2 != 0 || [lindex $text 0] ne "corrugo-settings"} {
	return -code error "not a Corrugo settings file"
    }
    set given [dict create {*}$text]
    if {[dict get $given corrugo-settings] ne "1"} {
	return -code error "settings format\
		\"[dict get $given corrugo-settings]\" is not known to this Corrugo"
    }
    set problems {}
    set aside {}
    if {![dict exists $given last]} {
	lappend problems "no entry \"last\""
    }
    dict for {key value} $given {
	switch -- $key {
	    corrugo-settings {}
	    last {
		lassign [CheckValues $value] last faults
		dict set settings last $last
		foreach fault $faults {
		    lappend problems "last values: $fault"
		}
	    }
	    presets {
		dict set settings presets [ReadPresets $value problems aside]
	    }
	    default {
		lappend problems "unknown entry \"$key\""
	    }
	}
    }
    dict set settings aside $aside
    dict set settings problems $problems
}

# ::corrugo::ReadText --
#
#	Returns a settings file's text, after looking at what the path is:
#	nothing for a missing file; an error for one that is not a regular
#	file (a folder, a device, a pipe that would never end) or is larger
#	than the limit, or that cannot be read.

proc ::corrugo::ReadText {path} {
    variable S
    set limit "it is larger than [expr {$S(fileLimit) >> 20}] MiB"
    if {[catch {file stat $path st} message options]} {
	if {[lindex [dict get $options -errorcode] 1] eq "ENOENT"} {
	    return ""	;# missing, or a link to nothing
	}
	return -code error [Reason $message $options]
    } elseif {$st(type) ne "file"} {
	return -code error "it is not a regular file"
    } elseif {$st(size) > $S(fileLimit)} {
	return -code error $limit
    }
    if {[catch {
	set channel [open $path {RDONLY NONBLOCK}]
	fconfigure $channel -translation binary
	set bytes [read $channel [expr {$S(fileLimit) + 1}]]
	close $channel
    } message options]} {
	catch {close $channel}
	return -code error [Reason $message $options]
    }
    if {[string length $bytes] > $S(fileLimit)} {
	return -code error $limit	;# it grew since
    }
    encoding convertfrom utf-8 $bytes
}

# ::corrugo::Reason --
#
#	Returns an error's message as the message line gives it: a system
#	error in the system's own words, in lower case.

proc ::corrugo::Reason {message options} {
    set code [dict get $options -errorcode]
    if {[lindex $code 0] eq "POSIX"} {
	return [string tolower [lindex $code 2]]
    }
    return $message
}

# ::corrugo::ReadPresets --
#
#	Returns the presets of the file that the dialog can use, name to
#	values, adds what it leaves out to a list of problems and the
#	presets left out, as the file holds them, to a list kept aside.
#
# Arguments:
#	given		the file's "presets"
#	problemsVar	the list of problems, in the caller
#	asideVar	the list of presets kept aside, in the caller

proc ::corrugo::ReadPresets {given problemsVar asideVar} {
    variable S
    upvar 1 $problemsVar problems $asideVar aside
    set presets {}
    if {![string is list $given] || [llength $given] % 2 != 0} {
	lappend problems "presets: not a list of names and values"
	lappend aside $given
	return $presets
    }
    foreach {name values} $given {
	set shown [regsub -all {[[:cntrl:]]} $name ?]
	if {[NameFault $name] eq "control"} {
	    lappend problems "preset \"$shown\": the name holds a control character"
	} elseif {[NameFault $name] eq "long"} {
	    lappend problems "preset \"[string range $name 0 [expr {$S(nameLimit) - 1}]]...\":\
		    the name is longer than $S(nameLimit) characters"
	} elseif {[NameFault $name] ne "" || [dict exists $presets $name]} {
	    lappend problems "preset \"$name\": the name is empty, built in or repeated"
	} else {
	    lassign [CheckValues $values] checked faults
	    if {$faults eq ""} {
		dict set presets $name $checked
		continue
	    }
	    lappend problems "preset \"$name\": [lindex $faults 0]"
	}
	lappend aside [string trimright [PresetLine $name $values]]
    }
    return $presets
}

# ::corrugo::CheckValues --
#
#	Checks a list of fields and values, each as the dialog checks what
#	is typed. Returns the values it can use, in the fields' order, and
#	what is wrong with the rest: a value it cannot use, a field given
#	twice or missing, an unknown field.
#
# Arguments:
#	values	field and value pairs

proc ::corrugo::CheckValues {values} {
    variable S
    if {![string is list $values] || [llength $values] % 2 != 0} {
	return [list {} [list "not a list of fields and values"]]
    }
    set faults {}
    set given {}
    foreach {key value} $values {
	if {$key ni $S(fields)} {
	    lappend faults "unknown field \"$key\""
	} elseif {[dict exists $given $key]} {
	    lappend faults "$key is given twice"
	} elseif {[string match *axis* $key]} {
	    dict set given $key [string tolower $value]	;# as the command takes them
	} else {
	    dict set given $key $value
	}
    }
    set checked {}
    foreach key $S(fields) {
	if {![dict exists $given $key]} {
	    lappend faults "no value for $key"
	} elseif {[set fault [Fault $key [dict get $given $key]]] ne ""} {
	    lappend faults $fault
	} else {
	    dict set checked $key [dict get $given $key]
	}
    }
    list $checked $faults
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
    file stat $path st
    expr {($st(mode) & 0o222) == 0}
}

# }==== Reading the settings file ====

# {==== Writing the settings file ====
# Saving takes the settings file's lock (a file beside it, made with an
# exclusive create), reads the file again and brings this session's
# changes to what it holds (the presets added, changed or deleted here,
# and the values last used), writes it and only then lets the lock go:
# another copy of the dialog saving at the same time waits, so no copy's
# preset is ever lost. A preset another copy changed since this one read
# the file is not written over: the note says so. Only values the dialog
# can use are written. The file is written whole or not at all: into a
# new file beside it, renamed over it once complete.

namespace eval ::corrugo {
    # How long a save waits for another copy's, and how old a lock is
    # left by a copy that died while saving (a save takes milliseconds).
    set S(lockWait) 3000
    set S(lockStale) 20
}

# ::corrugo::SaveSettings --
#
#	Writes the values last used and the user's presets to the settings
#	file, unless reading it failed when the session began; a failure to
#	write is told on the message line, and the file keeps what it held.
#	Returns nothing when all was saved, else what was not, as the
#	message line says it.

proc ::corrugo::SaveSettings {} {
    variable S
    if {![info exists S(file)] || !$S(writable)} {
	return ""
    }
    set S(notKept) ""
    if {[catch {Locked $S(file) [namespace code Merge]} message]} {
	set S(trouble) "Settings not saved to $S(file): $message."
	lappend S(notKept) $S(trouble)
    } else {
	set S(trouble) [string trim [join [concat $S(notKept) [list $message]]]]
    }
    PresetState
    if {[winfo exists $S(W).f.details]} {
	Details
    }
    ShowNote
    join $S(notKept)
}

# ::corrugo::Merge --
#
#	Saving's work while the lock is held: reads the file, brings this
#	session's changes to it and writes it. A preset changed here is
#	written unless another copy changed it since this session read it.
#	Returns the note for what the file left out.

proc ::corrugo::Merge {} {
    variable S
    variable User
    variable Base
    set settings [ReadSettings $S(file)]
    set presets [dict get $settings presets]
    dict for {name values} $Base {
	if {![dict exists $User $name] && ![Theirs $presets $name]} {
	    dict unset presets $name
	}
    }
    set size [Bytes [SettingsText [Checked] $presets]]
    dict for {name values} $User {
	if {[dict exists $Base $name] && [dict get $Base $name] eq $values} {
	    continue	;# not changed here
	}
	set why ""
	set grows [Bytes [PresetLine $name $values]]
	if {[dict exists $presets $name]} {
	    incr grows -[Bytes [PresetLine $name [dict get $presets $name]]]
	}
	if {[Theirs $presets $name]} {
	    set why "was saved by another copy of the dialog meanwhile: it keeps that copy's values"
	} elseif {![dict exists $presets $name] && [dict size $presets] >= $S(presetLimit)} {
	    set why "was not saved: at most $S(presetLimit) presets are kept (delete one first)"
	} elseif {$size + $grows > $S(fileLimit)} {
	    set why "was not saved: the settings file would be larger than [expr {$S(fileLimit) >> 20}] MiB"
	}
	if {$why ne ""} {
	    lappend S(notKept) "The preset \"$name\" $why."
	    continue
	}
	dict set presets $name $values
	incr size $grows
    }
    set text [SettingsText [Checked] $presets]
    if {[Bytes $text] > $S(fileLimit)} {
	return -code error "they would be larger than [expr {$S(fileLimit) >> 20}] MiB"
    }
    set note [LeftOut $settings 1]
    if {!$S(writable)} {
	return -code error "the presets left out could not be kept aside"
    }
    WriteSettings $S(file) $text
    set User $presets
    set Base $presets
    return $note
}

# ::corrugo::Theirs --
#
#	Tells whether the file holds a preset that another copy of the
#	dialog saved or changed since this session last read the file.
#
# Arguments:
#	presets	the file's presets, name to values
#	name	the preset

proc ::corrugo::Theirs {presets name} {
    variable Base
    if {![dict exists $presets $name]} {
	return 0
    }
    expr {![dict exists $Base $name]
	    || [dict get $Base $name] ne [dict get $presets $name]}
}

# ::corrugo::Refresh --
#
#	Reads the settings file's presets again, so that the question
#	before a preset is replaced knows those that other copies of the
#	dialog saved: they join this session's, whose own changes stay.

proc ::corrugo::Refresh {} {
    variable S
    variable User
    variable Base
    if {![info exists S(file)] || !$S(writable)
	    || [catch {dict get [ReadSettings $S(file)] presets} presets]} {
	return
    }
    set mine $User
    set User $presets
    dict for {name values} $mine {
	if {![dict exists $Base $name] || [dict get $Base $name] ne $values} {
	    dict set User $name $values
	}
    }
    dict for {name values} $Base {
	if {![dict exists $mine $name] && [dict exists $User $name]
		&& [dict get $User $name] eq $values} {
	    dict unset User $name
	}
    }
    set Base $presets
}

# ::corrugo::Locked --
#
#	Runs a script while holding the lock of a file: the file's name
#	followed by ".lock", created only when there is none. A lock older
#	than S(lockStale) seconds was left by a copy that died while saving
#	and is removed. Returns the script's result; an error when the lock
#	cannot be had within S(lockWait) milliseconds.
#
# Arguments:
#	path	the file
#	script	what to run

proc ::corrugo::Locked {path script} {
    variable S
    set lock $path.lock
    file mkdir [file dirname $path]
    set until [expr {[clock milliseconds] + $S(lockWait)}]
    while {[catch {open $lock {WRONLY CREAT EXCL}} channel options]} {
	if {[lindex [dict get $options -errorcode] 1] ne "EEXIST"} {
	    return -code error [Reason $channel $options]
	}
	if {![catch {file mtime $lock} made]
		&& $made < [clock seconds] - $S(lockStale)} {
	    catch {file delete $lock}
	} elseif {[clock milliseconds] > $until} {
	    return -code error "another copy of the dialog holds its lock,\
		    $lock (delete it if no copy is saving)"
	} else {
	    after 5
	}
    }
    catch {puts $channel [pid]}
    catch {close $channel}
    set code [catch {uplevel 1 $script} result options]
    catch {file delete $lock}
    return -options $options $result
}

# ::corrugo::SettingsText --
#
#	Returns the settings file's text for the values last used and the
#	presets, one preset a line.

proc ::corrugo::SettingsText {last presets} {
    set text "# Corrugo's settings: the dialog's last values and your presets.\n"
    append text "# The dialog reads this file as data and rewrites it whole.\n"
    append text "corrugo-settings 1\n"
    append text "last [list $last]\n"
    append text "presets \{\n"
    dict for {name values} $presets {
	append text [PresetLine $name $values]
    }
    append text "\}\n"
}

proc ::corrugo::PresetLine {name values} {
    return "    [list $name] [list $values]\n"
}

# ::corrugo::Bytes --
#
#	Returns a text's size in the settings file, in bytes.

proc ::corrugo::Bytes {text} {
    string length [encoding convertto utf-8 $text]
}

# ::corrugo::WriteSettings --
#
#	Replaces a file with a text, whole or not at all: the text goes to a
#	new file beside it, which takes the old file's owner, group and
#	permissions and is then renamed over it; a file whose owner or group
#	the new one cannot take (another user's, saved by one who is not
#	root) is not written. A symbolic link is followed, so the link stays.
#	New files that an interrupted save left behind are removed.
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
	RemoveLeftovers $path
	set channel [open $temporary {WRONLY CREAT EXCL}]
	fconfigure $channel -encoding utf-8 -translation lf
	puts -nonewline $channel $text
	close $channel
	if {[file exists $path] && $::tcl_platform(platform) ne "windows"} {
	    file stat $path st
	    file stat $temporary new
	    if {($st(uid) != $new(uid) || $st(gid) != $new(gid)) && [catch {
		file attributes $temporary -owner $st(uid) -group $st(gid)
	    }]} {
		error "it belongs to [file attributes $path -owner] (group\
			[file attributes $path -group]), which a file this user\
			writes cannot keep: it is left as it is"
	    }
	    file attributes $temporary -permissions [expr {$st(mode) & 0o7777}]
	}
	file rename -force $temporary $path
    } message options]} {
	catch {close $channel}
	catch {file delete $temporary}
	return -code error [Reason $message $options]
    }
}

# ::corrugo::RemoveLeftovers --
#
#	Removes the new files of saves that never finished (the program was
#	killed while writing): this process's own, and any other a minute
#	old, which no save still running can own.
#
# Arguments:
#	path	the settings file

proc ::corrugo::RemoveLeftovers {path} {
    set prefix [file tail $path].
    foreach name [glob -nocomplain -tails -directory [file dirname $path] -- *.new] {
	set old [file join [file dirname $path] $name]
	if {[string first $prefix $name] == 0
		&& [regexp {^[0-9]+$} [string range $name [string length $prefix] end-4] id]
		&& ($id eq [pid] || [file mtime $old] < [clock seconds] - 60)} {
	    catch {file delete $old}
	}
    }
}

# }==== Writing the settings file ====
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
	# Only when the names changed: a keystroke stays quick with many.
	set names [PresetNames]
	if {$names ne [$p.choice cget -values]} {
	    $p.choice configure -values $names -width [BoxWidth $names]
	}
	$p.delete state [expr {$values eq "" || [IsBuiltIn $S(preset)]
		? "disabled" : "!disabled"}]
    }
}

# ::corrugo::BoxWidth --
#
#	Returns the width, in characters, that the preset box needs for its
#	longest entry shown as modified: at least the first 28, at most as
#	many as a name may hold (a name of wide letters is cut, so that the
#	window stays on the screen whatever the file holds).

proc ::corrugo::BoxWidth {names} {
    variable S
    set zero [font measure TkTextFont 0]
    set width 28
    foreach name $names {
	set needed [expr {[font measure TkTextFont "$name (modified)"] / $zero + 2}]
	set width [expr {min(max($width, $needed), $S(nameLimit))}]
    }
    return $width
}

# ::corrugo::NameFault --
#
#	The one check of a preset's name, typed or read from the settings
#	file: returns "empty", "built in", "control" (it holds a line
#	break, a tab or another control character) or "long" (longer than
#	S(nameLimit) characters), or nothing for a name that may be used.

proc ::corrugo::NameFault {name} {
    variable S
    if {[regexp {[[:cntrl:]]} $name]} {
	return control
    } elseif {[string length $name] > $S(nameLimit)} {
	return long
    } elseif {[string trim $name] eq ""} {
	return empty
    } elseif {[IsBuiltIn $name]} {
	return "built in"
    }
    return ""
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
    ttk::entry $w.entry -width 32 -textvariable ${var}(newName) \
	    -validate key -validatecommand [namespace code {NameTyped %P}]
    ttk::label $w.message -textvariable ${var}(nameMessage) -justify left
    ttk::button $w.save -text "Save" -default active \
	    -command [namespace code NameGiven]
    ttk::button $w.cancel -text "Cancel" -command [list destroy $w]
    pack $w.f -fill both -expand 1
    grid $w.f.label - -in $w.f -sticky w
    grid $w.entry - -in $w.f -sticky ew -pady 4
    grid $w.message - -in $w.f -sticky w
    grid $w.save $w.cancel -in $w.f -sticky e -pady {8 0} -padx {8 0}
    bind $w <Return> [namespace code [list Return %W $w.save]]
    bind $w <KP_Enter> [namespace code [list Return %W $w.save]]
    bind $w <Escape> [list $w.cancel invoke]
    focus $w.entry
    $w.entry selection range 0 end
}

# ::corrugo::NameTyped --
#
#	Refuses a keystroke or a paste that would put a control character
#	(a line break, a tab...) in a preset's name or make it longer than
#	S(nameLimit) characters, with the bell and a note in the name
#	window.

proc ::corrugo::NameTyped {text} {
    variable S
    switch -- [NameFault $text] {
	control {
	    set S(nameMessage) "A preset's name cannot hold a line break, a tab or another control character."
	}
	long {
	    set S(nameMessage) "A preset's name holds at most $S(nameLimit) characters."
	}
	default {
	    set S(nameMessage) ""
	    return 1
	}
    }
    bell
    return 0
}

# ::corrugo::NameGiven --
#
#	Keeps the fields under the name given, after asking before it
#	replaces one of the user's presets; a built-in name or an empty one
#	is refused in the name window, which stays open, and so is a preset
#	while a number it would keep is unfinished.

proc ::corrugo::NameGiven {} {
    variable S
    variable User
    set w $S(W).name
    set name [string trim $S(newName)]
    switch -- [NameFault $name] {
	empty {
	    set S(nameMessage) "Enter a name for the preset."
	    return
	}
	"built in" {
	    set S(nameMessage) "\"$name\" is a built-in preset: choose another name."
	    return
	}
	control {
	    set S(nameMessage) "A preset's name cannot hold a line break, a tab or another control character."
	    return
	}
	long {
	    set S(nameMessage) "A preset's name holds at most $S(nameLimit) characters."
	    return
	}
    }
    set key [Unfinished]
    if {$key ne ""} {
	array set names $S(numbers)
	set S(nameMessage) "$names($key): enter a number"
	return
    }
    Refresh	;# the names other copies of the dialog took meanwhile
    if {![dict exists $User $name] && [dict size $User] >= $S(presetLimit)} {
	set S(nameMessage) "At most $S(presetLimit) presets are kept: delete one first."
	return
    }
    if {[dict exists $User $name] && [tk_messageBox -parent $w -title "Corrugo" \
	    -icon question -type yesno -default no \
	    -message "Replace the preset \"$name\"?"] ne "yes"} {
	return
    }
    dict set User $name [Checked]
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
