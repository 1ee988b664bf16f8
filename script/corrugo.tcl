# The Corrugo dialog.
proc qorvel_dialog {} {}
