# viewer.tcl --
#
#	The viewer's main window: the model in top, front and side views, a
#	menu bar (File, Edit, Select, and Tools with the plug-ins' entries),
#	and a status line. The host's messages appear in message boxes.
#
#	The program loads this script after Tk and before the plug-in, then
#	calls ::viewer::start once the model and the plug-in are in place.
#	The model is reached through the commands the program defines:
#	::viewer::open, save, select, undo, state, tools and segments.
#
# Widget paths (stable: tests drive the window through them):
#	.menu				the menu bar
#	.menu.file, .menu.edit, .menu.select, .menu.tools	its menus
#	.views				the canvas; items are tagged with their
#					view (top, front, side), and "wire",
#					"selected", "point", "label" or "info"
#	.status.text			the host's status text
#	.status.note			what the drawing leaves out, if anything
#
# The state lives in ::viewer::S; ::viewer::messages lists every message
# the host has shown, oldest first, and ::viewer::failures every file that
# could not be read or written, with why.

namespace eval ::viewer {
    variable S
    variable messages {}
    variable failures {}

    array set S {
	file		""
	mode		objects
	status		""
	note		""
	pending		0
	limit		100000
	background	#fbfbf8
	wire		#56606b
	selectedWire	#d4521a
	rule		#d6d6d0
	labelColor	#8a8f96
	font		TkDefaultFont
    }
    set S(filetypes) {{{Model files} {.ac}} {{All files} *}}
}

# ::viewer::start --
#
#	Builds the window and, once it is up, says why the model given on
#	the command line could not be read, if it could not, then runs the
#	commands given with -c, in order. A command that fails ends the
#	program with status 1.
#
# Arguments:
#	commands	a list of Tcl scripts
#	failure		why the model could not be read, or empty

proc ::viewer::start {commands {failure ""}} {
    Build
    # Tk maps the main window from an idle handler that first runs every
    # other idle handler: what follows waits for a timer after it.
    if {$failure ne ""} {
	after idle [list after 0 [namespace code \
		[list Failed "The model was not opened." $failure]]]
    }
    if {[llength $commands]} {
	after idle [list after 0 [namespace code [list RunCommands $commands]]]
    }
}

# ::viewer::RunCommands --
#
#	Runs the commands given on the command line at global level.
#
# Arguments:
#	commands	a list of Tcl scripts

proc ::viewer::RunCommands {commands} {
    update
    foreach command $commands {
	if {[catch {uplevel #0 $command} message]} {
	    puts stderr "corrugo-host: -c $command: $message"
	    exit 1
	}
    }
}

# ::viewer::Build --
#
#	Creates the main window: menus, the canvas of views and the status
#	line, with the keyboard shortcuts of the menus.

proc ::viewer::Build {} {
    variable S
    set var [namespace which -variable S]

    wm title . "corrugo-host"
    wm geometry . 1000x700
    wm minsize . 480 360
    wm protocol . WM_DELETE_WINDOW [namespace code Quit]
    option add *Menu.tearOff 0

    menu .menu
    . configure -menu .menu
    foreach {name label} {file File edit Edit select Select tools Tools} {
	menu .menu.$name
	.menu add cascade -label $label -menu .menu.$name -underline 0
    }

    .menu.file add command -label "Open..." -underline 0 \
	    -accelerator Ctrl+O -command [namespace code Open]
    .menu.file add command -label "Save" -underline 0 \
	    -accelerator Ctrl+S -command [namespace code Save]
    .menu.file add command -label "Save As..." -underline 5 \
	    -command [namespace code SaveAs]
    .menu.file add separator
    .menu.file add command -label "Quit" -underline 0 \
	    -accelerator Ctrl+Q -command [namespace code Quit]

    .menu.edit add command -label "Undo" -underline 0 \
	    -accelerator Ctrl+Z -command [namespace code Undo]

    foreach {mode label} {objects Objects surfaces Surfaces vertices Vertices} {
	.menu.select add radiobutton -label $label -underline 0 \
		-variable ${var}(mode) -value $mode \
		-command [namespace code [list Select $mode]]
    }
    .menu.select add separator
    .menu.select add command -label "Select All" -underline 7 \
	    -accelerator Ctrl+A -command [namespace code {Select all}]
    .menu.select add command -label "Select None" -underline 7 \
	    -command [namespace code {Select none}]

    # The plug-ins' entries; each runs its own Tcl command at global level.
    foreach tool [::viewer::tools] {
	lassign $tool label command
	.menu.tools add command -label $label -command $command
    }
    if {[.menu.tools index end] eq "none"} {
	.menu.tools add command -label "No plug-in tools" -state disabled
    }

    canvas .views -background $S(background) -highlightthickness 0 \
	    -width 1000 -height 640
    ttk::frame .status -padding {8 2}
    ttk::label .status.text -textvariable ${var}(status) -anchor w
    ttk::label .status.note -textvariable ${var}(note) -anchor e
    pack .status.text -side left -fill x -expand 1
    pack .status.note -side right
    pack .status -side bottom -fill x
    pack .views -side top -fill both -expand 1

    bind .views <Configure> [namespace code Schedule]
    bind . <Control-o> [namespace code Open]
    bind . <Control-s> [namespace code Save]
    bind . <Control-q> [namespace code Quit]
    bind . <Control-z> [namespace code Undo]
    bind . <Control-a> [namespace code {Select all}]
    Schedule
}

# ::viewer::Schedule --
#
#	Asks for the window to be brought up to date once the current event
#	is done: many changes in a row cost one redraw.

proc ::viewer::Schedule {} {
    variable S
    if {!$S(pending)} {
	set S(pending) 1
	after idle [namespace code Refresh]
    }
}

# ::viewer::Refresh --
#
#	Brings the title, the menus, the status line and the views up to
#	date with the model.

proc ::viewer::Refresh {} {
    variable S
    set S(pending) 0
    set state [::viewer::state]
    set S(file) [dict get $state file]
    set S(mode) [dict get $state mode]
    set S(status) [dict get $state status]

    if {$S(file) eq ""} {
	wm title . "corrugo-host"
    } else {
	wm title . "[file tail $S(file)] - corrugo-host"
    }
    set saving [expr {$S(file) eq "" ? "disabled" : "normal"}]
    .menu.file entryconfigure "Save" -state $saving
    .menu.file entryconfigure "Save As..." -state $saving
    if {[dict get $state undo]} {
	.menu.edit entryconfigure 0 -state normal \
		-label "Undo [dict get $state undolabel]"
    } else {
	.menu.edit entryconfigure 0 -state disabled -label "Undo"
    }
    Draw $state
}

# ::viewer::Draw --
#
#	Draws the views in a two-by-two layout, top view above the front
#	view and the side view beside it, as an engineering drawing is laid
#	out; the fourth pane describes the model.
#
# Arguments:
#	state	the model's state, as ::viewer::state returns it

proc ::viewer::Draw {state} {
    variable S
    set c .views
    $c delete all
    set w [expr {[winfo width $c] / 2}]
    set h [expr {[winfo height $c] / 2}]
    if {$w < 2 || $h < 2} {
	return	;# not mapped yet: the first <Configure> draws again
    }

    set every 1
    foreach {view x y label} [list \
	    top 0 0 "Top   x \u2192  z \u2193" \
	    front 0 $h "Front   x \u2192  y \u2191" \
	    side $w $h "Side   z \u2190  y \u2191"] {
	set d [::viewer::segments $view $w $h $S(limit)]
	foreach line [dict get $d lines] {
	    $c create line $line -fill $S(wire) -tags [list $view wire]
	}
	foreach line [dict get $d selected] {
	    $c create line $line -fill $S(selectedWire) -tags [list $view wire selected]
	}
	foreach {px py} [dict get $d points] {
	    $c create rectangle [expr {$px - 2}] [expr {$py - 2}] \
		    [expr {$px + 2}] [expr {$py + 2}] -fill $S(selectedWire) \
		    -outline $S(selectedWire) -tags [list $view point selected]
	}
	$c move $view $x $y
	$c create text [expr {$x + 8}] [expr {$y + 6}] -anchor nw -text $label \
		-fill $S(labelColor) -font $S(font) -tags [list $view label]
	set every [expr {max($every, [dict get $d every])}]
    }
    $c create line $w 0 $w [expr {2 * $h}] -fill $S(rule) -tags rule
    $c create line 0 $h [expr {2 * $w}] $h -fill $S(rule) -tags rule

    set S(note) [expr {$every > 1
	    ? "Too large to draw whole: 1 surface in $every shown" : ""}]
    $c create text [expr {$w + 16}] 14 -anchor nw -font $S(font) \
	    -fill $S(wire) -text [Describe $state] -tags info
}

# ::viewer::Describe --
#
#	Returns the text of the information pane: the model's file and
#	size, the selection and the newest undo step.
#
# Arguments:
#	state	the model's state, as ::viewer::state returns it

proc ::viewer::Describe {state} {
    dict with state {}
    set lines [list [expr {$file eq "" ? "No model file: File > Open... reads one"
	    : [file nativename $file]}]]
    lappend lines "" "[Count $objects object], [Count $vertices vertex vertices],\
	    [Count $surfaces surface]"
    set what [dict get {objects object surfaces surface vertices vertex} $mode]
    lappend lines "Selecting $mode: [Count $selected $what [expr {
	    $what eq "vertex" ? "vertices" : "${what}s"}]] selected"
    if {$undo} {
	lappend lines "Undo: $undolabel ([Count $undo step])"
    }
    lappend lines "" "Selected items are drawn in orange." \
	    "Tools > Corrugo... deforms the selection."
    join $lines \n
}

# ::viewer::Count --
#
#	Returns a count with its noun, singular or plural.

proc ::viewer::Count {n singular {plural ""}} {
    if {$plural eq ""} {
	set plural ${singular}s
    }
    return "$n [expr {$n == 1 ? $singular : $plural}]"
}

# ::viewer::Message --
#
#	Shows a message of the host in a warning box over the window that
#	has the focus (the plug-in's dialog, when it sent the command), and
#	keeps it in ::viewer::messages.
#
# Arguments:
#	text	the message

proc ::viewer::Message {text} {
    variable messages
    lappend messages $text
    tk_messageBox -icon warning -title "corrugo-host" -message $text \
	    -parent [Front]
    return
}

# ::viewer::Front --
#
#	Returns the toplevel that has the focus, or the main window.

proc ::viewer::Front {} {
    set w [focus]
    expr {$w eq "" ? "." : [winfo toplevel $w]}
}

# ::viewer::Failed --
#
#	Tells the user that a file could not be read or written, in an error
#	box and on standard error.
#
# Arguments:
#	what	the sentence that says what failed
#	why	the reason, naming the file (and the line, for a bad model)

proc ::viewer::Failed {what why} {
    variable failures
    lappend failures $why
    puts stderr "corrugo-host: $why"
    tk_messageBox -icon error -title "corrugo-host" -message $what \
	    -detail $why -parent .
}

# ::viewer::Open --
#
#	Reads a model file into the viewer, in place of the current model.
#	A file that cannot be read changes nothing.
#
# Arguments:
#	path	the file; when empty, the user chooses one

proc ::viewer::Open {{path ""}} {
    variable S
    if {$path eq ""} {
	set path [tk_getOpenFile -parent . -title "Open" \
		-filetypes $S(filetypes) -initialdir [Folder]]
	if {$path eq ""} {
	    return
	}
    }
    if {[catch {::viewer::open $path} why]} {
	Failed "The model was not opened." $why
    }
    return
}

# ::viewer::Save --
#
#	Writes the model back to its file. A model that did not come from a
#	file has nothing to be written into: Save is disabled for it.

proc ::viewer::Save {} {
    variable S
    if {$S(file) ne "" && [catch {::viewer::save} why]} {
	Failed "The model was not saved." $why
    }
    return
}

# ::viewer::SaveAs --
#
#	Writes the model to another file, which becomes the model's file.
#
# Arguments:
#	path	the file; when empty, the user chooses one

proc ::viewer::SaveAs {{path ""}} {
    variable S
    if {$S(file) eq ""} {
	return
    }
    if {$path eq ""} {
	set path [tk_getSaveFile -parent . -title "Save As" \
		-filetypes $S(filetypes) -defaultextension .ac \
		-initialdir [Folder] -initialfile [file tail $S(file)]]
	if {$path eq ""} {
	    return
	}
    }
    if {[catch {::viewer::save $path} why]} {
	Failed "The model was not saved." $why
    }
    Schedule	;# the title shows the new name
    return
}

# ::viewer::Folder --
#
#	Returns the folder of the model's file, or the current folder.

proc ::viewer::Folder {} {
    variable S
    file dirname [file normalize [expr {$S(file) eq "" ? "x" : $S(file)}]]
}

# ::viewer::Undo --
#
#	Undoes the newest change to the model.

proc ::viewer::Undo {} {
    ::viewer::undo
    return
}

# ::viewer::Select --
#
#	Changes the selection mode (nothing is selected in the new mode), or
#	selects everything or nothing.
#
# Arguments:
#	what	objects, surfaces, vertices, all or none

proc ::viewer::Select {what} {
    ::viewer::select $what
    return
}

# ::viewer::Quit --
#
#	Ends the program.

proc ::viewer::Quit {} {
    exit 0
}
